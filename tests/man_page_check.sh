#!/usr/bin/env bash
# The man page and the usage text name the same options with the same
# argument names: every option line of `flash-tool -h` has an entry in the
# man page's OPTIONS section, and every entry there is an option of the tool.
# Usage: man_page_check.sh FLASH_TOOL MAN_PAGE
set -euo pipefail
tool=$1
page=$2

# "  -i/--image <dfu_image>  ..." (also "-l, --list" and the long-only
# "  --trace <file>") as "-i --image dfu_image".
usage_options() {
    "$tool" -n -h </dev/null |
        sed -n -E 's#^  ((-[[:alnum:]])(/|, ))?(--[[:alnum:]_]+)( <([[:alnum:]_]+)>)?( .*)?$#\2 \4 \6#p' |
        sed -E 's/^ //; s/ $//'
}

# The line after each .TP of the OPTIONS section, without fonts, escaped
# hyphens and commas.
page_options() {
    awk '/^\.SH /{ in_options = ($2 == "OPTIONS") } in_options && after_tp { print; after_tp = 0 }
         in_options && /^\.TP/{ after_tp = 1 }' "$page" |
        sed -E 's/\\f[BIRP]//g; s/\\-/-/g; s/,//g; s/ +/ /g; s/^ //; s/ $//'
}

usage=$(usage_options | sort)
documented=$(page_options | sort)
if [ -z "$usage" ]; then
    echo "no option lines in the usage text of $tool" >&2
    exit 1
fi
if [ "$usage" != "$documented" ]; then
    echo "the man page $page and the usage text differ (< usage, > man page):" >&2
    diff <(echo "$usage") <(echo "$documented") >&2 || true
    exit 1
fi
echo "man page and usage text name the same $(echo "$usage" | wc -l) options"
