#!/usr/bin/env bash
# The dialog and the console speak the language of the user's interface, which Wine takes from the
# locale (LANG, LC_ALL): English for en_US, Japanese for ja_JP. The console's --lang and the
# settings file's Language choose the other one. One run over both languages: the dialog's title,
# status line and buttons, a message box and the console's text; one picture of the dialog per
# language (build/e2e/language-LANG.png), and each button's text fits its control.
. "$(dirname "$0")/lib.sh"

# A string of the table of a language (en or ja) by its name, as UTF-8.
text_of() {
  if [ "$1" = ja ]; then
    e2e_string_text "$2"
  else
    sed -n "s/^QV_STRING($2, \"\\(.*\\)\")\$/\\1/p" "$QV_SOURCE/res/strings_en.inc"
  fi
}
# UTF-8 text from standard input as the tool holds it in the running locale's ANSI code page, in
# hex: code page 932 for Japanese, 1252 (where a Japanese character has no byte: "?") otherwise.
ansi_hex() {
  if [ "$code_page" = 932 ]; then
    e2e_hex
  else
    LC_ALL=ja_JP.UTF-8 sed 's/[^ -~]/?/g' | od -An -tx1 | tr -d ' \n'
  fi
}
heading_hex() {
  local heading
  heading=$(text_of "$1" IDS_HEADING)
  printf '%s' "${heading/\%s/Ovaline/Ovaline Sketch}" | ansi_hex
}
status_hex() {
  printf '%s%s' "$(text_of "$1" IDS_NO_INVALID_ENTRIES)" "$(text_of "$1" IDS_CLEANUP_NOT_NEEDED)" |
    ansi_hex
}
# The console's scan of an empty machine: the heading, an empty line, the status and the summary
# line (ASCII in every language).
scan_hex() {
  local heading
  heading=$(text_of "$1" IDS_HEADING)
  printf '%s\n\n%s%s\n%s\n' "${heading/\%s/Ovaline/Ovaline Sketch}" \
    "$(text_of "$1" IDS_NO_INVALID_ENTRIES)" "$(text_of "$1" IDS_CLEANUP_NOT_NEEDED)" \
    'quorvane: stale=0 users=0 absent=0 unreadable=0 done=0 failed=0 refused=0 skipped=0 exit=0' |
    ansi_hex
}
# Whether standard error of a console run holds the line of a string (run name, language, id).
err_says() {
  local said
  said=$(od -An -tx1 "$E2E_WORK/$1.err" | tr -d ' \n')
  [[ "$said" == *"$(printf '%s\n' "$(text_of "$2" "$3")" | ansi_hex)"* ]]
}
declare -A ok_text=([en]="Clean Up" [ja]="クリーンアップ")
declare -A cancel_text=([en]="Cancel" [ja]="キャンセル")

# A picture of the dialog as the screen shows it, once two in a row are the same.
picture() {
  local left top right bottom next="$E2E_WORK/next.png"
  read -r left top right bottom < <(e2e_field rect) || return 1
  xwd -root -silent | convert xwd:- -crop "$((right - left))x$((bottom - top))+$left+$top" \
    +repage "png:$next" || return 1
  if [ -f "$1" ] && cmp -s "$next" "$1"; then
    rm -f "$next"
    return 0
  fi
  mv "$next" "$1"
  return 1
}

for run in "en en_US.UTF-8 ja 1252" "ja ja_JP.UTF-8 en 932"; do
  read -r lang locale other code_page <<<"$run"
  e2e_new_prefix "language_$lang"
  # bash itself warns when the locale is not installed; Wine reads the names only.
  { export LANG="$locale" LC_ALL="$locale"; } 2>/dev/null

  e2e_start_tool
  e2e_check "[$lang] the dialog appears" e2e_wait_dialog
  e2e_check "[$lang] the title is the heading" test "$(e2e_field title-hex)" = "$(heading_hex "$lang")"
  e2e_check "[$lang] the status line says that no clean-up is needed" \
    test "$(e2e_field status-hex)" = "$(status_hex "$lang")"
  for button in ok cancel; do
    declare -n texts="${button}_text"
    e2e_check "[$lang] the $button button reads '${texts[$lang]}'" \
      test "$(e2e_field "button-$button-hex")" = "$(printf '%s' "${texts[$lang]}" | ansi_hex)"
    fit=$(e2e_field "button-$button-fit")
    e2e_check "[$lang] the $button button's text fits (text, room: ${fit#* })" \
      test "${fit%% *}" = yes
  done
  fit=$(e2e_field status-fit)
  e2e_check "[$lang] the status line's text fits (height, room: ${fit#* })" test "${fit%% *}" = yes
  shot="$QV_BUILD/e2e/language-$lang.png"
  rm -f "$shot"
  qv_poll 40 picture "$shot" || true
  e2e_check "[$lang] a picture of the dialog" test -s "$shot"
  e2e_key Escape
  e2e_check "[$lang] Esc closes the dialog" qv_poll 60 e2e_tool_ended

  # A box: the settings file in a folder everyone can change is not used.
  e2e_stop_tool
  printf '[Quorvane]\r\nLanguage=%s\r\n' "$other" >"$E2E_WORK/Quorvane.ini"
  chmod 777 "$E2E_WORK"
  refused=$(text_of "$lang" IDS_SETTINGS_REFUSED)
  e2e_start_tool
  e2e_check "[$lang] a box says that the settings file is not used" e2e_wait_msgbox
  e2e_check "[$lang] the box's text and caption" test \
    "$(e2e_msgbox_field text-hex) $(e2e_msgbox_field caption-hex)" = \
    "$(printf '%s' "${refused/\%s/Z:${E2E_WORK//\//\\}\\Quorvane.ini}" | ansi_hex) $(text_of "$lang" IDS_CAPTION | tr -d '\n' | ansi_hex)"
  e2e_key Return
  e2e_check "[$lang] then the dialog, in the same language" \
    qv_poll 60 eval 'e2e_dump && test "$(e2e_field title-hex)" = "$(heading_hex "$lang")"'
  e2e_stop_tool

  # The same file where only administrators can change it chooses the other language.
  chmod 755 "$E2E_WORK"
  e2e_start_tool
  e2e_check "[$lang] Language=$other: the dialog's title" \
    qv_poll 240 eval 'e2e_dump && test "$(e2e_field title-hex)" = "$(heading_hex "$other")"'
  e2e_check "[$lang] Language=$other: the status line and the ok button" test \
    "$(e2e_field status-hex) $(e2e_field button-ok-hex)" = \
    "$(status_hex "$other") $(printf '%s' "${ok_text[$other]}" | ansi_hex)"
  e2e_stop_tool
  rm -f "$E2E_WORK/Quorvane.ini"

  # The console: its text in the language of the interface, and with --lang in the other one.
  cli_run "scan-$lang" scan
  e2e_check "[$lang] the console's scan" \
    test "$(od -An -tx1 "$E2E_WORK/scan-$lang.out" | tr -d ' \n')" = "$(scan_hex "$lang")"
  cli_run "scan-$other" scan --lang "$other"
  e2e_check "[$lang] the console's scan with --lang $other" \
    test "$(od -An -tx1 "$E2E_WORK/scan-$other.out" | tr -d ' \n')" = "$(scan_hex "$other")"
  cli_run "usage-$lang" scan --lang xx
  e2e_check "[$lang] --lang xx is a usage error" status_is 2 "usage-$lang"
  e2e_check "[$lang] which standard error tells in $lang" \
    err_says "usage-$lang" "$lang" IDS_CLI_LANG_NEEDS_NAME
  cli_run "restore-$other" restore --lang "$other"
  e2e_check "[$lang] a restore without a run tells so in $other (exit 2)" \
    eval 'status_is 2 "restore-$other" && err_says "restore-$other" "$other" IDS_CLI_RESTORE_NEEDS_RUN'
  e2e_stop_tool
done

e2e_finish
