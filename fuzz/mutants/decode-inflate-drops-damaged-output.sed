# target: decode
# file: decode/entry_decode.cpp
# fault: the streamed inflate drops the output of the call that met the damage
s/if (produced > 0 && !sink(workspace\.output\.data(), produced))/if (produced > 0 \&\& code != Z_DATA_ERROR \&\& !sink(workspace.output.data(), produced))/
