# shellcheck shell=bash
# Writing registry keys in Wine's text format ("WINE REGISTRY Version 2"): the format of the
# prefix's system.reg and user.reg and of the hive files that RegLoadKeyA reads under Wine.
# Edit system.reg and user.reg only while the prefix's wineserver is down (it rewrites them on
# exit). Source it.
#
#   qv_hive_new  FILE NAME            a new hive file (NAME: what it is relative to, for readers)
#   qv_reg_key   FILE 'A\B\C' SECONDS a key with its last-write time (seconds since 1970)
#   qv_reg_sz    FILE NAME VALUE      a REG_SZ value of the key written last
#   qv_reg_expand_sz FILE NAME VALUE  a REG_EXPAND_SZ value of the key written last
#
# Wine's loader gives a key that it creates on the way to a deeper key the deeper key's time, so
# write a parent before its children when its own time matters.

# Backslashes and double quotes are escaped with a backslash; a character beyond ASCII (names and
# values are UTF-8) becomes "\x" and its four hex digits, as Wine writes it.
qv_reg_escape() {
  local s="$1"
  s="${s//\\/\\\\}"
  s="${s//\"/\\\"}"
  if [ -n "$(LC_ALL=C; printf '%s' "${s//[ -~]/}")" ]; then
    printf '%s' "$s" | perl -CS -pe 's/([^\x00-\x7f])/sprintf("\\x%04x", ord($1))/ge'
    return
  fi
  printf '%s' "$s"
}

# A key's last-write time as Wine writes it: a FILETIME (100 ns since 1601) in hex.
qv_filetime_hex() {
  printf '%x' $(( ($1 + 11644473600) * 10000000 ))
}

qv_hive_new() {
  mkdir -p "$(dirname "$1")"
  printf 'WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\%s\n\n#arch=win64\n' \
    "$2" >"$1"
}

qv_reg_key() {
  printf '\n[%s] %s\n#time=%s\n' "$(qv_reg_escape "$2")" "$3" "$(qv_filetime_hex "$3")" >>"$1"
}

qv_reg_sz() {
  printf '"%s"="%s"\n' "$(qv_reg_escape "$2")" "$(qv_reg_escape "$3")" >>"$1"
}

qv_reg_expand_sz() {
  printf '"%s"=str(2):"%s"\n' "$(qv_reg_escape "$2")" "$(qv_reg_escape "$3")" >>"$1"
}
