# Writes the gazetteer text into a C++ source file as one character array.
#   cmake -DINPUT=data/gazetteer.tsv -DOUTPUT=gazetteer_data.cpp -P embed.cmake
file(READ "${INPUT}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
file(WRITE "${OUTPUT}"
  "// Generated from ${INPUT}; do not edit.\n"
  "namespace norrow::tools {\nextern const char kBuiltInGazetteer[];\n"
  "const char kBuiltInGazetteer[] = {${bytes} 0};\n}\n")
