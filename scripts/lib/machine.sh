# shellcheck shell=bash
# Building Windows machines for the demo and the end-to-end tests inside a Wine prefix: profiles,
# users' hives, product registrations with their times, data folders and the files the built-in
# file list names. Source wine.sh and winereg.sh first; QV_SOURCE must name the source tree.
#
# The prefix's wineserver must be down while system.reg, user.reg or hive files are written.

QV_COMPANY=Brennard
QV_RUNNER_SID=S-1-5-21-0-0-0-1000

# 'C:\users\ann' -> <prefix>/drive_c/users/ann
qv_unix_path() {
  local prefix="$1" win="$2"
  local rest="${win#[Cc]:}"
  rest="${rest//\\//}"
  printf '%s/drive_c%s' "$prefix" "$rest"
}

# A string value of a key in one of Wine's registry text files (unescaped), e.g.
#   qv_reg_file_value system.reg 'Software\...\ProfileList\S-1-...' ProfileImagePath
qv_reg_file_value() {
  local file="$1" key name="$3"
  key=$(qv_reg_escape "$2")
  # Passed through the environment: awk -v would undo the file's escaping of backslashes.
  QV_AWK_KEY="[$key]" QV_AWK_NAME="\"$name\"=" awk '
    BEGIN { key = ENVIRON["QV_AWK_KEY"]; name = ENVIRON["QV_AWK_NAME"] }
    index($0, "[") == 1 { inkey = (index($0, key " ") == 1 || $0 == key); next }
    inkey && index($0, name) == 1 {
      v = substr($0, length(name) + 1)
      sub(/^str\([0-9]+\):/, "", v)
      v = substr(v, 2, length(v) - 2)
      gsub(/\\\\/, "\001", v); gsub(/\\"/, "\"", v); gsub(/\001/, "\\", v)
      print v; exit
    }' "$file"
}

# The running user's profile folder (Windows path), from the prefix's profile list.
qv_runner_profile() {
  qv_reg_file_value "$1/system.reg" \
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\$QV_RUNNER_SID" ProfileImagePath
}

# The running user's temporary folder (Windows path): the TEMP of his environment in user.reg.
# His shell folders have no "Local Settings", so the tool takes the process's TEMP for him, which
# Wine sets from there.
qv_runner_temp() {
  local temp
  temp=$(qv_reg_file_value "$1/user.reg" Environment TEMP)
  printf '%s' "${temp//%USERPROFILE%/$(qv_runner_profile "$1")}"
}

# Adds a profile list entry to system.reg.
qv_add_profile() {
  local prefix="$1" sid="$2" profile="$3" time="$4"
  local key="Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\$sid"
  qv_reg_key "$prefix/system.reg" "$key" "$time"
  qv_reg_expand_sz "$prefix/system.reg" ProfileImagePath "$profile"
}

# A hive file for a profile that is not loaded: <profile>\ntuser.dat with the user's shell folders
# in the older layout ("Application Data", "Local Settings\Application Data"). Sets the globals
# QV_APPDATA and QV_LOCAL_APPDATA and QV_LOCAL_SETTINGS to the Windows paths.
qv_new_user_hive() {
  local prefix="$1" sid="$2" profile="$3" time="$4"
  local hive
  hive="$(qv_unix_path "$prefix" "$profile")/ntuser.dat"
  QV_APPDATA="$profile\\Application Data"
  QV_LOCAL_SETTINGS="$profile\\Local Settings"
  QV_LOCAL_APPDATA="$QV_LOCAL_SETTINGS\\Application Data"
  qv_hive_new "$hive" "$sid"
  qv_reg_key "$hive" "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders" "$time"
  qv_reg_sz "$hive" AppData "$QV_APPDATA"
  qv_reg_sz "$hive" "Local AppData" "$QV_LOCAL_APPDATA"
  qv_reg_sz "$hive" "Local Settings" "$QV_LOCAL_SETTINGS"
  mkdir -p "$(qv_unix_path "$prefix" "$QV_APPDATA")" "$(qv_unix_path "$prefix" "$QV_LOCAL_APPDATA")" \
    "$(qv_unix_path "$prefix" "$QV_LOCAL_SETTINGS")/Temp"
}

# A machine registration in system.reg, where the products' 32-bit installer writes it on 64-bit
# Windows: the 32-bit view of 'Software\...', which lies in 'Software\Wow6432Node\...'.
qv_add_machine_registration() {
  local prefix="$1" keypath="$2" time="$3"
  qv_reg_key "$prefix/system.reg" "Software\\Wow6432Node\\${keypath#Software\\}" "$time"
}

# The expanded lines of a file list (Windows paths) for one registration of one user: the
# placeholders get the values the tool computes for that user. Lines that are a root folder's
# parent alone are left out: they name folders, not listed files.
#   qv_expand_list LIST  keypath roaming local appdata temp
qv_expand_list() {
  local list="$1" keypath="$2" roaming="$3" local_root="$4" appdata="$5" temp="$6"
  local name="${keypath##*\\}"
  local rest="${keypath%\\*}"
  local release="${rest##*\\}"; rest="${rest%\\*}"
  local product="${rest##*\\}"; rest="${rest%\\*}"
  local company="${rest##*\\}"
  local code="${name%%-*}"
  local full
  if [ "$product" = "Ovaline Sketch" ]; then full="Ovaline Sketch 2004"; else full="Ovaline 2004"; fi
  # Passed through the environment: awk -v would read "\r" in "C:\users\root" or "\f" in
  # "...\fra" as escapes.
  QV_AWK_ROAM="$roaming" QV_AWK_LOCAL="$local_root" QV_AWK_APPDATA="$appdata" QV_AWK_TEMP="$temp" \
    QV_AWK_COMPANY="$company" QV_AWK_PRODUCT="$product" QV_AWK_REGRELEASE="$release" \
    QV_AWK_PRODNAME="$code" QV_AWK_FULL="$full" awk '
    function parent(p) { sub(/\\[^\\]*$/, "", p); return p }
    function last(p) { sub(/.*\\/, "", p); return p }
    BEGIN {
      ROAM = ENVIRON["QV_AWK_ROAM"]; LOCAL = ENVIRON["QV_AWK_LOCAL"]
      APPDATA = ENVIRON["QV_AWK_APPDATA"]; TEMPDIR = ENVIRON["QV_AWK_TEMP"]
      COMPANY = ENVIRON["QV_AWK_COMPANY"]; PRODUCT = ENVIRON["QV_AWK_PRODUCT"]
      REGRELEASE = ENVIRON["QV_AWK_REGRELEASE"]; PRODNAME = ENVIRON["QV_AWK_PRODNAME"]
      FULL = ENVIRON["QV_AWK_FULL"]
      v["ROAMABLEROOTFOLDER"] = ROAM; v["ROAMABLEROOTPARENT"] = parent(ROAM)
      v["LOCALROOTFOLDER"] = LOCAL; v["LOCALROOTPARENT"] = parent(LOCAL); v["LANG"] = last(LOCAL)
      v["PRODNAME"] = PRODNAME; v["RELEASE"] = "2004"; v["REGRELEASE"] = REGRELEASE
      v["PRODUCT"] = PRODUCT; v["FULLPRODUCTNAME"] = FULL; v["COMPANY"] = COMPANY
      v["APPDATAFOLDER"] = APPDATA; v["COMMONAPPDATAFOLDER"] = "C:\\ProgramData"
      v["TEMP"] = TEMPDIR; v["PROGRAMFILES"] = "C:\\Program Files (x86)"; v["PERCENT"] = "%"
      v["UNNAMEDPROFILE"] = "Unnamed Profile"
    }
    {
      sub(/\r$/, "")
      if ($0 == "%LOCALROOTPARENT%" || $0 == "%ROAMABLEROOTPARENT%" || $0 == "") next
      out = ""; s = $0
      while ((i = index(s, "%")) > 0) {
        out = out substr(s, 1, i - 1); s = substr(s, i + 1)
        j = index(s, "%"); if (j == 0) { out = out "%" s; s = ""; break }
        key = toupper(substr(s, 1, j - 1)); s = substr(s, j + 1)
        if (key == "") out = out "%"; else out = out v[key]
      }
      print out s
    }' "$list"
}

# Creates, below the prefix, something that each expanded list line finds: for a pattern a file
# whose name the pattern matches, for a name with an extension that file, otherwise an empty
# folder. Prints the unix paths it created.
qv_create_listed() {
  local prefix="$1" line path leaf
  while IFS= read -r line; do
    path=$(qv_unix_path "$prefix" "$line")
    leaf="${path##*/}"
    leaf="${leaf//\*/demo}"
    leaf="${leaf//\?/x}"
    path="${path%/*}/$leaf"
    if [[ "$leaf" == *.* ]]; then
      mkdir -p "${path%/*}"
      printf 'listed file\r\n' >"$path"
    else
      mkdir -p "$path"
    fi
    printf '%s\n' "$path"
  done
}
# The data that a user's registration KEYPATH names: the user's roaming and local data folders
# (in APPDATA and LOCALAPPDATA) with a few files, and the files of the file list for that user
# (TEMP: the user's temporary folder). Sets QV_ROAMING and QV_LOCAL_ROOT to the two folders
# (Windows paths). When QV_MANIFEST names a file, appends to it one line for each data folder
# and each listed file or folder created: "SID<tab>KEYPATH<tab>data|listed<tab><unix path>".
#   qv_add_user_data PREFIX SID KEYPATH APPDATA LOCALAPPDATA TEMP
qv_add_user_data() {
  local prefix="$1" sid="$2" keypath="$3" appdata="$4" local_appdata="$5" temp="$6"
  local name="${keypath##*\\}"
  local rest="${keypath%\\*}"
  local release="${rest##*\\}"; rest="${rest%\\*}"
  local product="${rest##*\\}"
  local lcid="${name##*:}" lang full
  case "$lcid" in
    409) lang=enu ;; 411) lang=jpn ;; 407) lang=deu ;; 40C) lang=fra ;; *) lang=enu ;;
  esac
  if [ "$product" = "Ovaline Sketch" ]; then full="Ovaline Sketch 2004"; else full="Ovaline 2004"; fi
  QV_ROAMING="$appdata\\$QV_COMPANY\\$full\\$release\\$lang"
  QV_LOCAL_ROOT="$local_appdata\\$QV_COMPANY\\$full\\$release\\$lang"
  local manifest="${QV_MANIFEST:-/dev/null}" path
  qv_add_data_folders "$prefix" "$QV_ROAMING" "$QV_LOCAL_ROOT"
  for path in "$QV_ROAMING" "$QV_LOCAL_ROOT"; do
    printf '%s\t%s\tdata\t%s\n' "$sid" "$keypath" "$(qv_unix_path "$prefix" "$path")" >>"$manifest"
  done
  if [ -s "$QV_SOURCE/res/filelist132.txt" ]; then
    qv_expand_list "$QV_SOURCE/res/filelist132.txt" "$keypath" "$QV_ROAMING" "$QV_LOCAL_ROOT" \
      "$appdata" "$temp" | qv_create_listed "$prefix" |
      while IFS= read -r path; do
        printf '%s\t%s\tlisted\t%s\n' "$sid" "$keypath" "$path"
      done >>"$manifest"
  fi
}

# A user's registration: the key with its time and its two folder values in the hive file (or
# user.reg), and the data it names (qv_add_user_data).
#   qv_add_user_registration PREFIX SID HIVEFILE KEYPATH TIME APPDATA LOCALAPPDATA TEMP
qv_add_user_registration() {
  local prefix="$1" sid="$2" hive="$3" keypath="$4" time="$5"
  qv_add_user_data "$prefix" "$sid" "$keypath" "$6" "$7" "$8"
  qv_reg_key "$hive" "$keypath" "$time"
  qv_reg_sz "$hive" RoamableRootFolder "$QV_ROAMING"
  qv_reg_sz "$hive" LocalRootFolder "$QV_LOCAL_ROOT"
}

# A product's roaming and local data folders with a few files, as the product leaves them.
qv_add_data_folders() {
  local prefix="$1" roaming local_root
  roaming=$(qv_unix_path "$prefix" "$2")
  local_root=$(qv_unix_path "$prefix" "$3")
  mkdir -p "$roaming/Support/Profiles" "$roaming/Palettes" "$local_root/Templates"
  printf 'recent=\r\n' >"$roaming/Support/Profiles/default.ini"
  printf 'palette\r\n' >"$roaming/Palettes/standard.pal"
  printf 'template\r\n' >"$local_root/Templates/drawing.tpl"
}

# A profile whose hive is a file (not loaded), with its profile list entry, its hive and one
# registration, data folders and listed files per key path given after the time.
qv_add_service_profile() {
  local prefix="$1" sid="$2" profile="$3" time="$4" hive keypath
  shift 4
  qv_add_profile "$prefix" "$sid" "$profile" "$time"
  qv_new_user_hive "$prefix" "$sid" "$profile" "$time"
  hive="$(qv_unix_path "$prefix" "$profile")/ntuser.dat"
  for keypath in "$@"; do
    qv_add_user_registration "$prefix" "$sid" "$hive" "$keypath" \
      "$time" "$QV_APPDATA" "$QV_LOCAL_APPDATA" "$QV_LOCAL_SETTINGS\\Temp"
  done
}

# The demo machine (see README.md). Written into a new prefix whose wineserver is down. With a
# second argument, lists in that file what each user's registration owns (see qv_add_user_data),
# the leftover data under the registration that the tool makes for it.
#   qv_build_demo_machine PREFIX [MANIFEST]
qv_build_demo_machine() {
  local prefix="$1"
  local QV_MANIFEST="${2:-}"
  if [ -n "$QV_MANIFEST" ]; then : >"$QV_MANIFEST"; fi
  local now t0 stale
  now=$(date +%s)
  t0=$((now - 30 * 86400))   # when the users' registrations were written
  stale=$((t0 + 3600))       # a machine registration written an hour later

  # The machine: English main product and Japanese light edition reinstalled an hour after the
  # users' registrations, the Japanese main product as old as the users'. German and French main
  # product and English light edition are not installed (any more).
  qv_add_machine_registration "$prefix" 'Software\Brennard\Ovaline\R16.0\OVLN-201:409' "$stale"
  qv_add_machine_registration "$prefix" 'Software\Brennard\Ovaline\R16.0\OVLN-201:411' "$t0"
  qv_add_machine_registration "$prefix" 'Software\Brennard\Ovaline Sketch\R9\OVSK-201:411' "$stale"

  # Three profiles whose hives are files, not loaded: the service accounts, which the system can
  # name. Every registration they show is a key in the hive file: Wine does not write back a hive
  # loaded from a file, so a key that the tool's scan created there would be gone again when the
  # clean-up loads the hive, and the clean-up would stop at it.
  qv_add_service_profile "$prefix" S-1-5-18 'C:\users\svc-system' "$t0" \
    'Software\Brennard\Ovaline\R16.0\OVLN-201:409' 'Software\Brennard\Ovaline\R16.0\OVLN-201:411'
  qv_add_service_profile "$prefix" S-1-5-19 'C:\users\svc-local' "$t0" \
    'Software\Brennard\Ovaline\R16.0\OVLN-201:409' 'Software\Brennard\Ovaline Sketch\R9\OVSK-201:409'
  qv_add_service_profile "$prefix" S-1-5-20 'C:\users\svc-network' "$t0" \
    'Software\Brennard\Ovaline\R16.0\OVLN-201:407' 'Software\Brennard\Ovaline Sketch\R9\OVSK-201:411'

  # The running user, whose hive is loaded (HKEY_CURRENT_USER, user.reg): a German registration
  # the machine lacks, and a Japanese light edition only 30 seconds older than the machine's.
  local sid=$QV_RUNNER_SID profile
  profile=$(qv_runner_profile "$prefix")
  local user_reg="$prefix/user.reg"
  local appdata="$profile\\AppData\\Roaming" local_appdata="$profile\\AppData\\Local"
  local temp
  temp=$(qv_runner_temp "$prefix")
  qv_add_user_registration "$prefix" "$sid" "$user_reg" 'Software\Brennard\Ovaline\R16.0\OVLN-201:407' \
    "$t0" "$appdata" "$local_appdata" "$temp"
  qv_add_user_registration "$prefix" "$sid" "$user_reg" 'Software\Brennard\Ovaline Sketch\R9\OVSK-201:411' \
    "$((stale - 30))" "$appdata" "$local_appdata" "$temp"
  # French data and listed files left behind without a registration: the tool's scan registers
  # them as OVLN-201:40C. The running user's hive is used in place, so under Wine that key lasts
  # as long as the wineserver session and a clean-up finds it.
  qv_add_user_data "$prefix" "$sid" 'Software\Brennard\Ovaline\R16.0\OVLN-201:40C' \
    "$appdata" "$local_appdata" "$temp"
}
