# target: patterns
# file: names/entry_pattern.cpp
# fault: "*" crosses "/"
s/(more && name\[n\] != '\/' && at(row, n + 1))/(more \&\& at(row, n + 1))/
