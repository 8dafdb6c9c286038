#!/usr/bin/env bash
# A machine without any registration of the products: the tree stays empty, the status line says
# that there are no invalid entries and that no clean-up is needed, and the clean-up button is
# disabled from the start. Esc closes the dialog. A settings file that others can change is not used.
. "$(dirname "$0")/lib.sh"

e2e_new_prefix empty_machine
e2e_start_tool

e2e_check "the dialog appears" e2e_wait_dialog
e2e_check "the title is the heading for both products" \
  test "$(e2e_field title-hex)" = "$(e2e_default_title_hex)"
# IDS_NO_INVALID_ENTRIES followed directly by IDS_CLEANUP_NOT_NEEDED (which begins with a space), in code page 932.
expected_status="$(e2e_string_hex IDS_NO_INVALID_ENTRIES)$(e2e_string_hex IDS_CLEANUP_NOT_NEEDED)"
e2e_check "the status line reads 'no invalid entries' and 'no clean-up needed'" \
  test "$(e2e_field status-hex)" = "$expected_status"
e2e_check "the clean-up button is disabled" test "$(e2e_field ok)" = disabled
e2e_check "the tree is empty" test -z "$(e2e_tree)"

# Enter would start the clean-up, but the disabled button cannot be the target: no confirmation.
e2e_key Escape
e2e_check "Esc closes the dialog and the tool ends" qv_poll 60 e2e_tool_ended

# A Quorvane.ini in a current directory that everyone can change (Wine answers a file's security
# from its Unix mode bits: the others' bits become an entry for Everyone) is not used by an
# administrator's dialog (Wine's token is one): a box says so once, then the built-in products.
e2e_stop_tool
printf '[Quorvane]\r\nCompany=Acme\r\nProduct=Zephyr\r\nVersion=V2\r\nVisibleProductName=Zephyr\r\n' \
  >"$E2E_WORK/Quorvane.ini"
chmod 777 "$E2E_WORK"
refused_hex() {
  local text
  text=$(e2e_string_text IDS_SETTINGS_REFUSED)
  printf '%s' "${text/\%s/Z:${E2E_WORK//\//\\}\\Quorvane.ini}" | e2e_hex
}
e2e_start_tool
e2e_check "a box says that the settings file is not used" e2e_wait_msgbox
e2e_check "the box names the file" test "$(e2e_msgbox_field text-hex)" = "$(refused_hex)"
e2e_key Return
e2e_check "then the dialog shows the built-in products' heading" e2e_wait_dialog
e2e_check "the title is the heading for both products" \
  test "$(e2e_field title-hex)" = "$(e2e_default_title_hex)"
e2e_check "no second box" e2e_no_msgbox
e2e_key Escape
e2e_check "Esc closes the dialog and the tool ends" qv_poll 60 e2e_tool_ended
chmod 755 "$E2E_WORK"
rm -f "$E2E_WORK/Quorvane.ini"

e2e_finish
