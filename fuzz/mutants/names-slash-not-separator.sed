# target: names
# file: extract/safe_name.cpp
# fault: "/" is not a separator in the name-safety check
s/return c == '\\\\' || c == '\/';/return c == '\\\\';/
