# target: archive
# file: extract/safe_name.cpp
# fault: "/" is not a separator in the name-safety check (as extraction meets it)
s/return c == '\\\\' || c == '\/';/return c == '\\\\';/
