#!/usr/bin/env bash
# Includes follow the link lines: inside the engine stack -> align, decode -> core, write -> core;
# the engine includes no shell, no shell includes the other's headers, and the shells reach the
# engine through each library's one header.
set -u
cd "$(dirname "$0")/../.."
status=0
# may_include FOLDER ALLOWED-PREFIX...: every project include in FOLDER starts with one of them.
may_include() {
    local folder=$1; shift
    local pattern
    pattern=$(printf '|%s' "$@"); pattern=${pattern:1}
    local hits
    hits=$(grep -rnE '#include "' "$folder" --include='*.cpp' --include='*.h' | grep -vE "#include \"($pattern)")
    if [ -n "$hits" ]; then
        echo "$folder includes what its library may not use:"; echo "$hits"; status=1
    fi
}
may_include engine/core engine/core/
may_include engine/decode engine/core/ engine/decode/
may_include engine/align engine/core/ engine/align/
may_include engine/stack engine/core/ engine/decode/ engine/align/ engine/stack/
may_include engine/write engine/core/ engine/write/
shell_sees=(engine/decode/decode.h engine/stack/stack.h engine/write/write.h)
may_include cli "${shell_sees[@]}" cli/
for window in app imaging ops; do
    may_include "$window" "${shell_sees[@]}" app/ imaging/ ops/
done
exit $status
