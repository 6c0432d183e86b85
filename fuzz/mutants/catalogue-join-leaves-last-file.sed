# target: catalogue
# file: archive/catalogue.cpp
# fault: the folders' names are not put in front of the archive's last file
s/std::min<size_t>(catalogue\.folders\[k\]\.endFile, fileCount)/std::min<size_t>(catalogue.folders[k].endFile, fileCount - 1)/
