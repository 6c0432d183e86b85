# target: catalogue
# file: archive/catalogue.cpp
# fault: a file name's range one byte too long (it takes the byte before the next name)
s/entries\[i + 1\]\.nameOffset) - self - 1/entries[i + 1].nameOffset) - self/
s/static_cast<int64_t>(nameTable + self) - 1;/static_cast<int64_t>(nameTable + self);/
