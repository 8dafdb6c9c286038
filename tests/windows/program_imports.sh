#!/bin/sh
# The libraries each shipped program imports, against the list of those that a copy planted beside
# the program (a tools folder users can write, a share) can never replace. The loader resolves
# imports before the program's first line runs, so none of them may come from its folder:
#   kernel32 user32 gdi32 advapi32 shell32 ole32 msvcrt  KnownDLLs: always mapped from the
#                                                         system's own section, never searched
#   ntdll                                                 mapped by the kernel into every process
#                                                         before any import is resolved
#   comctl32                                              taken from the side-by-side store: the
#                                                         manifest names Common-Controls 6 (and a
#                                                         manifest turns off .local redirection);
#                                                         allowed only when it does
# Anything else (bcrypt, version, oleacc, ...) is loaded at run time from the system folder
# (ISystem::LoadLibrary) or not at all. Nor may a program import a function that an allowed library
# forwards to one outside the list: advapi32's SystemFunction0xx (RtlGenRandom among them) live
# in cryptbase, which the loader would look for beside the program too.
#   sh tests/windows/program_imports.sh OBJDUMP PROGRAM...
set -u
objdump=$1
shift
allowed="kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ole32.dll msvcrt.dll ntdll.dll"
status=0
for program in "$@"; do
  imports=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
  name=$(basename "$program")
  case " $(echo $imports) " in
    *" kernel32.dll "*) ;;
    *) echo "FAIL: $name: no import table read (objdump -p)"; status=1; continue ;;
  esac
  refused=0
  for dll in $imports; do
    case " $allowed " in *" $dll "*) continue ;; esac
    if [ "$dll" = comctl32.dll ] && grep -aq 'Microsoft.Windows.Common-Controls' "$program"; then
      continue
    fi
    echo "FAIL: $name imports $dll, which a copy beside it could replace"
    refused=1
    status=1
  done
  forwarded=$("$objdump" -p "$program" | grep -o 'SystemFunction0[0-9][0-9]' | sort -u)
  if [ -n "$forwarded" ]; then
    echo "FAIL: $name imports $(echo $forwarded), forwarded to cryptbase"
    refused=1
    status=1
  fi
  [ "$refused" -eq 0 ] && echo "PASS: $name imports only $(echo $imports)"
done
exit "$status"
