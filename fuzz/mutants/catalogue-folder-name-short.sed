# target: catalogue
# file: archive/catalogue.cpp
# fault: a folder name's range one byte short ("art\ui" read as "art\u")
s/static_cast<int64_t>(next) - self - 1/static_cast<int64_t>(next) - self - 2/
