# target: json
# file: names/printable_text.cpp
# fault: ED A0 80 (a UTF-16 surrogate) is taken as UTF-8 when printed
s/ || (c >= 0xD800 && c <= 0xDFFF)//
