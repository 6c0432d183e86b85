# target: catalogue
# file: archive/catalogue.cpp
# fault: a folder name's range one byte short ("art\ui" read as "art\u")
s/catalogue\.folderNameSpans\[i\] = {names + folders\[i\]\.nameOffset, names + next};/catalogue.folderNameSpans[i] = {names + folders[i].nameOffset, names + next - 1};/
