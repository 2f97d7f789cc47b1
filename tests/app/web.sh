#!/bin/bash
# The application's web pages in a real browser, as a user sees and uses
# them: headless Chromium driven over chromedriver's WebDriver interface on
# loopback, once in English and once in Chinese (the browser's language).
# Every page says everything in words of the reader's language: no label, list
# entry, heading or button is a raw keyword, a bare percentage or an inch
# size, none is a bare number field on Printing Defaults, and in Chinese every
# label is Chinese; every English text the application has is in its Chinese
# strings too. The printer's page shows its model and state, and its paper
# out in the words the application serves for it, with one full stop;
# "Print Test Page" prints the test receipt; settings chosen on Printing
# Defaults and Media become the printer's defaults and the next job's
# settings; the Printer Tools page stores an uploaded image as a logo (its
# preview first), refuses a file that is no image, opens a drawer with its
# pulse alone and deletes the logo. A screenshot of every page in both languages is written to
# $OVIK_WEB_SHOTS when it is set (else into the test's folder).
#
#   web.sh APP SIM DECODE SOURCE_DIR
set -u
app="$1" simulator="$2" decode="$3" source="$4"
. "$source/tests/app/common.sh"
need chromium chromedriver curl ipptool gs
begin web 330
shots="${OVIK_WEB_SHOTS:-$work/shots}"
mkdir -p "$shots"
start_sim printer
start_app
app_cli add -d front -m ovik-tern-80a -v "socket://127.0.0.1:$printer_port" || fail "add refused"
base="http://localhost:$app_port"

# chromedriver on a loopback port.
driver_port=$(free_port)
chromedriver --port="$driver_port" --allowed-ips=127.0.0.1 > "$work/chromedriver.log" 2>&1 &
pids+=($!)
wd="http://127.0.0.1:$driver_port"
for _ in $(seq 100); do curl -sf "$wd/status" > /dev/null && break; sleep 0.1; done

# Sends a WebDriver command: METHOD PATH [JSON]; prints the reply.
webdriver() {
  curl -s -X "$1" -H 'Content-Type: application/json' ${3:+-d "$3"} "$wd$2"
}

# Starts a browser session whose language is LANG; its path is left in s.
# The browser resolves no name but localhost, so that nothing on a page
# (PAPPL's configuration form embeds a map from the web) leaves loopback.
start_browser() {
  local caps session
  caps='{"capabilities":{"alwaysMatch":{"browserName":"chrome","goog:chromeOptions":{"binary":"/usr/bin/chromium","args":["--headless","--no-sandbox","--disable-gpu","--disable-quic","--no-first-run","--disable-background-networking","--disable-component-update","--disable-sync","--window-size=1280,1400","--accept-lang='"$1"'","--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE localhost, EXCLUDE 127.0.0.1","--user-data-dir='"$work/profile-$1"'"]}}}}'
  session=$(webdriver POST /session "$caps" | grep -o '"sessionId":"[^"]*"' | cut -d'"' -f4)
  [ -n "$session" ] || { fail "no browser session:\n$(tail -5 "$work/chromedriver.log")"; exit 1; }
  s="/session/$session"
}

# Opens a page and waits for it to load.
open_page() {
  webdriver POST "$s/url" "{\"url\":\"$base$1\"}" > /dev/null
}

# A text as a JSON string.
json_string() {
  printf '"%s"' "$(printf '%s' "$1" | sed 's/\\/\\\\/g; s/"/\\"/g' | sed ':a;N;$!ba;s/\n/\\n/g')"
}

# Runs a script in the page (its arguments a JSON list); prints its value.
run_script() {
  webdriver POST "$s/execute/sync" "{\"script\":$(json_string "$1"),\"args\":${2:-[]}}" |
    sed 's/^{"value":"//; s/"}$//; s/^{"value"://; s/}$//; s/\\n/\n/g'
}

# The text of the page as the browser renders it.
page_text() {
  run_script 'return document.body.innerText'
}

# Saves a screenshot of the page as PNG.
screenshot() {
  webdriver GET "$s/screenshot" | sed 's/^{"value":"//; s/"}$//' | base64 -d > "$shots/$1.png"
}

# The id of the element a CSS selector finds.
element() {
  webdriver POST "$s/element" "{\"using\":\"css selector\",\"value\":\"$1\"}" |
    grep -o '"element-6066-11e4-a52e-4f735466cecf":"[^"]*"' | cut -d'"' -f4
}

# Clicks what a CSS selector finds, scrolled to the middle of the window
# first (at its bottom edge PAPPL's fixed footer would take the click).
click() {
  local id
  id=$(element "$1")
  [ -n "$id" ] || { fail "no element $1"; return; }
  webdriver POST "$s/execute/sync" \
    "{\"script\":\"arguments[0].scrollIntoView({block: 'center'})\",\"args\":[{\"element-6066-11e4-a52e-4f735466cecf\":\"$id\"}]}" > /dev/null
  webdriver POST "$s/element/$id/click" '{}' > /dev/null
}

# Replaces the value of an input field.
type_into() {
  local id
  id=$(element "$1")
  [ -n "$id" ] || { fail "no element $1"; return; }
  webdriver POST "$s/element/$id/clear" '{}' > /dev/null
  webdriver POST "$s/element/$id/value" "{\"text\":\"$2\"}" > /dev/null
}

# Checks that the page shows a text.
expect_text() {
  page_text > "$work/page.txt"
  grep -qF "$1" "$work/page.txt" || { screenshot "failed-$2"; fail "$2: no \"$1\" in the page:\n$(head -40 "$work/page.txt")"; }
}

# A printer attribute as ipptool shows it.
printer_attr() {
  printf '{\nOPERATION Get-Printer-Attributes\nGROUP operation-attributes-tag\nATTR charset attributes-charset utf-8\nATTR naturalLanguage attributes-natural-language en\nATTR uri printer-uri $uri\nATTR keyword requested-attributes %s\nDISPLAY %s\n}\n' "$1" "$1" > "$work/attr.test"
  ipptool -c "$base/ipp/print/front" "$work/attr.test" 2>/dev/null | sed -n 2p
}

# The text of a key in one of the application's strings files (en, zh).
strings_text() {
  curl -s "$base/$1.strings" | sed -n "s/^\"$2\" = \"\(.*\)\";\$/\1/p"
}

# The texts a reader takes for words: labels, headings, list entries,
# buttons, banners. Those that are not: raw keywords ("cut-mode",
# "media-type.labels"), bare percentages, inch sizes; in Chinese (argument
# true) also any label, heading or button without a Chinese character, but
# numbers and the printer's own name.
not_words='
  const chinese = arguments[0], own = arguments[1];
  const keyword = /^[a-z][a-z0-9]*([-.][a-z0-9]+)+:?$/, bare = /^[0-9]+ ?%$|[0-9]"/, han = /[\u4e00-\u9fff]/;
  const bad = [];
  for (const e of document.querySelectorAll("th, label, option, h1, h2, a.btn, span.active, input[type=submit], div.banner")) {
    const t = (e.tagName == "INPUT" ? e.value : e.innerText).trim();
    if (!t || own.includes(t.replace(/:$/, "")))
      continue;
    if (keyword.test(t) || bare.test(t) || (chinese && e.tagName != "OPTION" && !han.test(t) && !/^[0-9 .:]*$/.test(t)))
      bad.push(e.tagName + ": " + t);
  }
  for (const e of document.querySelectorAll("form input[type=number]"))
    if (location.pathname.endsWith("/printing"))
      bad.push("a bare number field: " + e.name);
  return bad.join(" | ");'

# Every page in the session's language: words only, and a screenshot. Names
# that are no words: the printer's, its model's, the application's; and
# PAPPL's configuration form writes its button as "Save Changes" in every
# language.
check_pages() {
  local lang="$1" chinese="$2" page name bad own
  for page in / /front /front/printing /front/media /front/supplies /front/tools /front/jobs /front/config \
    /front/delete /front/cancelall /addprinter /config; do
    name="$lang$(echo "$page" | tr / -)"
    own='"front", "Ovik Tern 80A", "ovik-printer-app"'
    case "$page" in */config) own="$own, \"Save Changes\"" ;; esac
    open_page "$page"
    screenshot "$name"
    bad=$(run_script "$not_words" "[$chinese, [$own]]")
    [ -z "$bad" ] || fail "$name: not in words: $bad"
  done
}

# Every English text of the application has its Chinese.
curl -s "$base/en.strings" | sed -n 's/^"\(.*\)" = ".*";$/\1/p' | sort > "$work/en.keys"
curl -s "$base/zh.strings" | sed -n 's/^"\(.*\)" = ".*";$/\1/p' | sort > "$work/zh.keys"
[ -s "$work/en.keys" ] || fail "no /en.strings"
missing=$(comm -23 "$work/en.keys" "$work/zh.keys")
[ -z "$missing" ] || fail "English texts without Chinese:\n$missing"

start_browser en-US
check_pages en false

# The printer's page: model and state.
open_page /front
expect_text "Ovik Tern 80A" printer-page
expect_text "Idle" printer-page
[ "$(head -c 4 "$shots/en-front.png" | od -An -c | tr -d ' ')" = "211PNG" ] || fail "the screenshot is no PNG"

# Print Test Page: the test receipt reaches the printer.
click "input[value='Print Test Page']"
for _ in $(seq 100); do [ -n "$(sim_jobs printer)" ] && break; sleep 0.2; done
job=$(sim_jobs printer | head -1)
if [ -z "$job" ]; then
  fail "no test page reached the printer"
else
  summary=$("$decode" --quiet "$job" 2>&1)
  case " $summary " in
    *" crc_errors=0 "*" bitmaps=1 "*) ;;
    *) fail "test page stream: $summary" ;;
  esac
  rows=$(echo "$summary" | grep -o ' rows=[0-9]*' | cut -d= -f2)
  [ "${rows:-0}" -gt 100 ] || fail "the test page has ${rows:-0} rows"
fi

# Printing Defaults: a full cut after 10 mm, chosen as a user chooses them.
open_page /front/printing
click "select[name='cut-mode'] option[value='full']"
click "select[name='cut-paper-length'] option[value='10']"
click "input[type='submit']"
sleep 0.5
expect_text "Changes saved." defaults-saved
[ "$(printer_attr cut-mode-default)" = full ] || fail "cut-mode-default is $(printer_attr cut-mode-default), not full"
[ "$(printer_attr cut-paper-length-default)" = 10 ] ||
  fail "cut-paper-length-default is $(printer_attr cut-paper-length-default), not 10"
open_page /front/printing
[ "$(run_script 'return document.querySelector("select[name=cut-mode]").value')" = full ] ||
  fail "the page does not show cut-mode full after saving"

# The next job without options cuts after 10 mm (79 dot rows).
before=$(sim_jobs printer | wc -l)
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -r203 -dcupsColorSpace=3 -dcupsBitsPerColor=1 \
  -o "$work/receipt.pwg" "$source/samples/receipt.ps"
printf '{\nOPERATION Print-Job\nGROUP operation-attributes-tag\nATTR charset attributes-charset utf-8\nATTR naturalLanguage attributes-natural-language en\nATTR uri printer-uri $uri\nATTR name requesting-user-name web\nATTR mimeMediaType document-format image/pwg-raster\nFILE $filename\nSTATUS successful-ok\n}\n' > "$work/print.test"
ipptool -tf "$work/receipt.pwg" "$base/ipp/print/front" "$work/print.test" > /dev/null || fail "Print-Job failed"
for _ in $(seq 100); do [ "$(sim_jobs printer | wc -l)" -gt "$before" ] && break; sleep 0.2; done
summary=$("$decode" --quiet "$(sim_jobs printer | tail -1)" 2>&1)
case " $summary " in
  *" feed_rows=79 cuts_full=1 "*) ;;
  *) fail "the job after saving the defaults: $summary" ;;
esac

# Media: labels with gaps on a custom length of 150 mm; the tracking follows.
open_page /front/media
click "select[name='media-size'] option[value='custom']"
type_into "input[name='custom-length']" 150
click "select[name='media-type'] option[value='labels']"
click "input[type='submit']"
sleep 0.5
ready=$(printer_attr media-col-ready)
case "$ready" in
  *"y-dimension=15000"*"media-tracking=gap"*"media-type=labels"* | *"media-type=labels"*"y-dimension=15000"*) ;;
  *) fail "media-col-ready after saving the Media page: $ready" ;;
esac
case "$ready" in *"media-tracking=gap"*) ;; *) fail "labels with gaps are not tracked by their gaps: $ready" ;; esac
open_page /front/printing
expect_text "$(strings_text en 'media-type\.labels')" defaults-media

# Printer Tools: a PNG uploaded as logo 3, previewed with nothing stored,
# then stored as exactly the image's dots and listed with its size; a file
# that is no image refused in words with nothing stored; Open Drawer 1 a
# connection of its own with the pulse alone; the logo deleted.
cat > "$work/logo.ps" << 'END'
%!PS
newpath 10 10 moveto 180 0 rlineto 0 60 rlineto -180 0 rlineto closepath fill
1 setgray newpath 60 25 moveto 80 0 rlineto 0 30 rlineto -80 0 rlineto closepath fill
showpage
END
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pnggray -r72 -g200x80 -o "$work/logo.png" "$work/logo.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pbmraw -r72 -g200x80 -o "$work/logo.pbm" "$work/logo.ps"
printf 'not an image\n' > "$work/notes.png"
stored="$work/printer/memory/nv-3032.pbm"

# The printer's connections that carried more than status requests, in order.
tool_streams() {
  local f
  for f in "$work/printer"/out/*.prn; do
    [ -e "$f" ] && [ -n "$(records "$f")" ] && echo "$f"
  done
}

# Uploads FILE as logo NUMBER with the button ACTION (preview or store-logo).
upload_logo() {
  local id
  open_page /front/tools
  id=$(element "input[name='image']")
  webdriver POST "$s/element/$id/value" "{\"text\":\"$1\"}" > /dev/null
  click "select[name='number'] option[value='$2']"
  click "button[value='$3']"
}

open_page /front
click "a[href='/front/tools']"
[ "$(run_script 'return document.querySelector("#model-id").innerText + " " + document.querySelector("#firmware").innerText')" = "0x01 1.0.0" ] ||
  fail "the Printer Tools page does not show the printer's model ID 0x01 and firmware 1.0.0"
expect_text "The printer holds no stored graphics." en-tools-page
upload_logo "$work/logo.png" 3 preview
expect_text "Logo 3 would be 200 x 60 dots, as shown below; nothing has been sent." en-tools-preview
[ -n "$(element "img[alt='logo preview']")" ] || fail "the preview shows no image"
screenshot en-tools-preview
[ ! -e "$stored" ] || fail "Preview stored the logo"

upload_logo "$work/logo.png" 3 store-logo
expect_text "Logo 3 stored in the printer: 200 x 60 dots." en-tools-stored
expect_text "200 x 60 dots" en-tools-stored
screenshot en-tools-stored
if [ ! -f "$stored" ]; then
  fail "Store Logo: no graphic with the key codes of logo-index 3 in the printer"
else
  pbm_data "$stored" | content_rows 25 > "$work/stored.rows"
  tail -c $((25 * 80)) "$work/logo.pbm" | content_rows 25 > "$work/image.rows" # after its header and comment
  [ "$(wc -l < "$work/stored.rows")" -eq 60 ] && cmp -s "$work/stored.rows" "$work/image.rows" ||
    fail "the stored logo ($(wc -l < "$work/stored.rows") rows) is not the image's dots"
fi

before=$(tool_streams | wc -l)
upload_logo "$work/notes.png" 4 store-logo
expect_text "The file is not a PNG or JPEG image." en-tools-refused
screenshot en-tools-refused
for f in $(tool_streams | tail -n +$((before + 1))); do
  "$decode" "$f" | grep -q 'define NV graphics' && fail "a refused image was sent: $f"
done
[ "$(ls "$work/printer/memory")" = nv-3032.pbm ] || fail "a refused image changed the memory: $(ls "$work/printer/memory")"

before=$(tool_streams | wc -l)
click "input[value='Open Drawer 1']"
expect_text "Drawer 1 opened." en-tools-drawer
for _ in $(seq 50); do [ "$(tool_streams | wc -l)" -ge $((before + 2)) ] && break; sleep 0.1; done
sleep 0.5
mapfile -t new < <(tool_streams | tail -n +$((before + 1)))
if [ "${#new[@]}" -ne 2 ]; then
  fail "Open Drawer 1: ${#new[@]} connections, not the pulse's and the page's look"
else
  [ "$(hex_of "${new[0]}")" = "1b 70 00 50 50" ] || fail "Open Drawer 1 sent $(hex_of "${new[0]}")"
  "$decode" --quiet "${new[1]}" 2>&1 | grep -q ' pulses=0 ' || fail "the page's look pulsed a drawer"
fi

click "#logos input[value='Delete']"
expect_text "Logo 3 deleted." en-tools-deleted
expect_text "The printer holds no stored graphics." en-tools-deleted
[ ! -e "$stored" ] || fail "Delete left logo 3 in the printer"

# Paper out shows on the printer's page in the words the application serves,
# with one full stop, in both languages; it goes when paper is loaded.
echo paper-out > "$work/printer/state"
words=$(strings_text en 'printer-state-reasons\.media-empty')
[ -n "$words" ] || fail "no English words for media-empty"
for _ in $(seq 30); do
  open_page /front
  page_text | grep -qF "$words" && break
  sleep 1
done
expect_text "$words." paper-out-page
page_text | grep -qF "$words.." && fail "a doubled full stop after \"$words\""
screenshot en-paper-out
webdriver DELETE "$s" > /dev/null

start_browser zh-CN
open_page /front
expect_text "$(strings_text zh 'printer-state-reasons\.media-empty')" zh-paper-out-page
screenshot zh-paper-out
check_pages zh true
# What a tool did, in the reader's language: the numbers put into its words.
open_page /front/tools
click "input[value='打开钱箱 2']"
expect_text "钱箱 2 已打开。" zh-tools-drawer
webdriver DELETE "$s" > /dev/null

echo ready > "$work/printer/state"
start_browser en-US
for _ in $(seq 30); do
  open_page /front
  page_text | grep -qF "$words" || break
  sleep 1
done
page_text | grep -qF "$words" && fail "out of paper still shown after paper was loaded"
webdriver DELETE "$s" > /dev/null
exit 0
