# target: json
# file: cli/json_writer.cpp
# fault: byte 0x1F is written unescaped
s/byte < 0x20 || byte == 0x7F/byte < 0x1F || byte == 0x7F/
