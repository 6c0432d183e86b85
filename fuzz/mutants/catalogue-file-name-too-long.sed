# target: catalogue
# file: archive/catalogue.cpp
# fault: a file name's range one byte too long (it takes the byte before the next name)
s/catalogue\.fileNameSpans\[i\] = {names + entries\[i\]\.nameOffset, next};/catalogue.fileNameSpans[i] = {names + entries[i].nameOffset, next + 1};/
