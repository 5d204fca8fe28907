#!/bin/sh
# Checks the plug-in library as a host would see it: it exports exactly
# Create, Load, Close, Release and About under their plain (undecorated)
# names, and, on Windows, it needs no DLL beyond Windows' own and PluginIf.dll,
# and it is built as a hardened module: ASLR and DEP flags in its PE header,
# stack protection compiled in.
set -eu
# Binutils speak the user's language (under ja_JP.UTF-8 objdump's headings are
# Japanese): what is read here is their C locale output.
export LC_ALL=C
library=$1
expected_exports="About Close Create Load Release"
allowed_imports="KERNEL32.dll ADVAPI32.dll msvcrt.dll USER32.dll PluginIf.dll"  # Windows' own, and the host's

if i686-w64-mingw32-objdump -f "$library" 2>/dev/null | grep -q 'pei-i386'; then
  exports=$(i686-w64-mingw32-objdump -p "$library" |
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | sort | tr '\n' ' ')
  flags=$(i686-w64-mingw32-objdump -p "$library" | sed -n 's/^DllCharacteristics[[:space:]]*//p')
  for bit in 40:DYNAMIC_BASE 100:NX_COMPAT; do
    if [ $(( 0x$flags & 0x${bit%%:*} )) -eq 0 ]; then
      echo "$library lacks ${bit#*:} in its DllCharacteristics ($flags)"; exit 1
    fi
  done
  # Unstripped, the guard's symbol shows; stripped (the release), the report
  # that only the guard's code carries.
  if ! i686-w64-mingw32-nm "$library" 2>/dev/null | grep -q '__stack_chk_fail' &&
     ! grep -q 'stack smashing detected' "$library"; then
    echo "$library has no stack protection"; exit 1
  fi
  for dll in $(i686-w64-mingw32-objdump -p "$library" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
    case " $allowed_imports " in
      *" $dll "*) ;;
      *) echo "$library needs $dll, beyond Windows' own DLLs and PluginIf.dll"; exit 1 ;;
    esac
  done
else
  exports=$(nm -D --defined-only "$library" | awk '$2 == "T" { print $3 }' | sort | tr '\n' ' ')
fi
if [ "${exports% }" != "$expected_exports" ]; then
  echo "exports of $library: '${exports% }', expected '$expected_exports'"
  exit 1
fi
echo "exports: $expected_exports; imports and hardening checked"
