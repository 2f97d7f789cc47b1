#!/bin/bash
# Prints through the real CUPS scheduler: a private cupsd lists our PPDs,
# queues are made from them with lpadmin -m, and PDF and PNG jobs go through
# the cups-filters chain into the built rastertoovik and out to file:
# devices, where ovik-decode checks every printer stream. A job cancelled
# while it prints must leave the queue ready for the next one.
#
#   print_jobs.sh FILTER PPD-FOLDER OVIK-DECODE OVIK-MODELS SOURCE-DIR
set -u
filter="$1" ppds="$2" decode="$3" models="$4" source="$5"
sandbox="$source/tools/cupsd-sandbox"
. "$(dirname "$0")/common.sh"

# A PDF whose first page is quick to render and whose later pages each take
# the interpreter seconds: a form drawn ten times by a form drawn ten times,
# six levels deep. The job is still rendering page 2 when it is cancelled.
make_slow_pdf() {
  local out="$1" levels=6 pages=4 n offsets=() kids="" p xref
  # Appends numbered object $1 with body $2, noting its offset for the xref.
  pdf_object() {
    offsets[$1]=$(stat -c %s "$out")
    printf '%d 0 obj\n%s\nendobj\n' "$1" "$2" >> "$out"
  }
  # Appends stream object $1 with dictionary entries $2 and content $3.
  pdf_stream() {
    pdf_object "$1" "$(printf '<<%s/Length %d>>\nstream\n%s\nendstream' "$2" "${#3}" "$3")"
  }
  printf '%%PDF-1.4\n' > "$out"
  # 1 catalogue, 2 page tree, 3 font, 4.. the forms, then page and contents.
  pdf_stream 4 "/Type/XObject/Subtype/Form/BBox[0 0 10 10]" "0 0 m 3 3 l S"
  for n in $(seq "$levels"); do
    local draw="" k
    for k in 0 1 2 3 4 5 6 7 8 9; do draw+="q 1 0 0 1 0.$k 0.$k cm /F Do Q "; done
    pdf_stream $((4 + n)) "/Type/XObject/Subtype/Form/BBox[0 0 20 20]/Resources<</XObject<</F $((3 + n)) 0 R>>>>" "$draw"
  done
  n=$((5 + levels))
  for p in $(seq "$pages"); do
    local content="BT /H 20 Tf 20 400 Td (Page $p) Tj ET"
    [ "$p" -eq 1 ] || content="q 1 0 0 1 20 200 cm /F Do Q $content"
    pdf_stream $((n + 1)) "" "$content"
    pdf_object "$n" "<</Type/Page/Parent 2 0 R/MediaBox[0 0 204 480]/Contents $((n + 1)) 0 R/Resources<</Font<</H 3 0 R>>/XObject<</F $((4 + levels)) 0 R>>>>>>"
    kids+="$n 0 R "
    n=$((n + 2))
  done
  pdf_object 3 "<</Type/Font/Subtype/Type1/BaseFont/Helvetica>>"
  pdf_object 2 "<</Type/Pages/Kids[$kids]/Count $pages>>"
  pdf_object 1 "<</Type/Catalog/Pages 2 0 R>>"
  xref=$(stat -c %s "$out")
  {
    printf 'xref\n0 %d\n0000000000 65535 f \n' "$n"
    for p in $(seq $((n - 1))); do printf '%010d 00000 n \n' "${offsets[$p]}"; done
    printf 'trailer\n<</Size %d/Root 1 0 R>>\nstartxref\n%d\n%%%%EOF\n' "$n" "$xref"
  } >> "$out"
}

need_scheduler
need gs ipptool lp lpadmin lpinfo lpstat cancel
begin spool 200
start_cupsd --filter "$filter" --ppds "$ppds"
make_documents 2 "$source/samples/receipt.ps"
make_slow_pdf "$work/slow.pdf"

# The scheduler offers every PPD of the set as a driver.
listed=$(lpinfo -m | awk '$1 ~ /^ovik-[^\/]*\.ppd$/ { print $1 }' | sort)
shipped=$(ppd_names "$ppds")
[ "$listed" = "$shipped" ] ||
  fail "lpinfo -m does not list the PPD set:\n$(diff <(echo "$shipped") <(echo "$listed") | head)"

# Two queues from lpadmin -m: an 80 mm model and a 58 mm one.
lpadmin -p wide -E -v "file:$work/wide.prn" -m ovik-tern-80a.ppd 2>/dev/null ||
  fail "lpadmin -m ovik-tern-80a.ppd failed"
lpadmin -p narrow -E -v "file:$work/narrow.prn" -m ovik-keel-58.ppd 2>/dev/null ||
  fail "lpadmin -m ovik-keel-58.ppd failed"
wide="width_bytes=$(model_width_bytes "Tern 80A")"
narrow="width_bytes=$(model_width_bytes "Keel 58")"
clean=(crc_errors=0 unknown_bytes=0 problems=0 stop_offset=-1)
start="paper type|document start"
page="page header|bitmap"
feed="GS v 0 raster image"

# Job options: a 10 mm feed and a partial cut after every page.
print_job wide "$work/wide.prn" -o PostPrintAction=3 -o CutMode=1 -o CutPaperLength=10 "$work/receipt.pdf"
expect_stream "$work/wide.prn" "PDF, cut after every page" \
  "$start|$page|$feed|GS V feed n rows, partial cut|$page|$feed|GS V feed n rows, partial cut" \
  page_headers=2 bitmaps=2 "$wide" feed_rows=158 cuts_partial=2 cuts_full=0 "${clean[@]}"

# The PPD's own defaults: no feed and no cut.
print_job narrow "$work/narrow.prn" "$work/receipt.png"
expect_stream "$work/narrow.prn" "PNG, PPD defaults" "$start|$page" \
  page_headers=1 bitmaps=1 "$narrow" commands=0 "${clean[@]}"

# Defaults an administrator set in the queue's PPD: a 10 mm feed and a full
# cut at the end of the job.
lpadmin -p narrow -o CutMode=2 -o CutPaperLength=10 2>/dev/null
grep -q '^\*DefaultCutMode: 2' "$work/cupsd/etc/ppd/narrow.ppd" ||
  fail "lpadmin -o CutMode=2 did not set the queue's PPD default"
print_job narrow "$work/narrow.prn" "$work/receipt.png"
# They reach the filter through the PPD, not as job options.
options=$(grep -F "[Job $job] argv[5]=" "$work/cupsd/log/error_log")
[ -n "$options" ] && [[ "$options" != *Cut* ]] ||
  fail "the filter's options are not free of the cut settings: ${options:-not logged}"
expect_stream "$work/narrow.prn" "PNG, defaults set with lpadmin" \
  "$start|$page|$feed|GS V feed n rows, full cut" \
  page_headers=1 bitmaps=1 "$narrow" feed_rows=79 cuts_full=1 cuts_partial=0 "${clean[@]}"

# Cancelled while printing: once page 1 is out, the job is cancelled during
# page 2. What was sent stays whole; the end of job (feed and cut) is not sent.
rm -f "$work/wide.prn"
id=$(submit wide -o PostPrintAction=2 -o CutMode=2 -o CutPaperLength=10 "$work/slow.pdf")
for _ in $(seq 600); do
  "$decode" --quiet "$work/wide.prn" 2>/dev/null | grep -q ' bitmaps=1 ' && break
  sleep 0.1
done
state=$("$sandbox" job-state "$work/cupsd" "$id")
[ "$state" = processing ] || fail "slow job $id is $state, not processing, after its first page"
cancel "$id" || fail "cancel $id failed"
state=$("$sandbox" wait-job "$work/cupsd" "$id" 30) || true
[ "$state" = canceled ] || fail "cancelled job $id ended $state"
expect_stream "$work/wide.prn" "PDF cancelled after its first page" "$start|$page" \
  page_headers=1 bitmaps=1 "$wide" commands=0 "${clean[@]}"
left=$("$sandbox" settle "$work/cupsd" 15) || fail "the cancelled job left processes running:\n$left"
lpstat -p wide | grep -q 'is idle.  enabled' || fail "queue not idle after the cancel: $(lpstat -p wide)"
lpstat -a wide | grep -q 'accepting requests' || fail "queue not accepting after the cancel: $(lpstat -a wide)"

# The next job on the same queue prints whole: a feed and a full cut at the end.
print_job wide "$work/wide.prn" -o PostPrintAction=2 -o CutMode=2 -o CutPaperLength=10 "$work/receipt.pdf"
expect_stream "$work/wide.prn" "PDF after the cancelled job" \
  "$start|$page|$page|$feed|GS V feed n rows, full cut" \
  page_headers=2 bitmaps=2 "$wide" feed_rows=79 cuts_full=1 cuts_partial=0 "${clean[@]}"

[ "$failures" -eq 0 ] && echo "all spooler checks passed"
