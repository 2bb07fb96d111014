# Writes SOURCE (the KWin script) into OUTPUT as a C++ header holding its text: Orvane hands
# KWin the script it was built with, so the two always speak one version.
file(READ ${SOURCE} text)
string(FIND "${text}" ")kwinscript\"" clash)
if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${SOURCE} holds the raw string's delimiter")
endif()
file(WRITE ${OUTPUT}.new "#pragma once\n\n// Generated from ${SOURCE}.\nnamespace orvane::linuxbackend {\ninline constexpr const char* kwinBridgeScript = R\"kwinscript(${text})kwinscript\";\n}\n")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
