#!/bin/bash
# Installs the driver the ways an administrator would, and removes it again:
# cmake --install into a DESTDIR and the uninstall target; then the Debian
# packages that CPack builds from the same rules, installed with dpkg on this
# machine. With the package installed, a private cupsd that uses the
# system's ServerBin and DataDir must list every model, make a queue with
# lpadmin -m and print through the installed filter; once it is removed,
# nothing of it may be left. The packages' state before the test is put back.
#
#   package.sh BUILD-DIR OVIK-DECODE OVIK-MODELS SOURCE-DIR
#
# It runs only when asked: OVIK_PACKAGE_TEST=1 (CI asks, through .ci/run);
# otherwise it is skipped before it looks at anything.
set -u
if [ "${OVIK_PACKAGE_TEST:-0}" != 1 ]; then
  echo "SKIP: installs and removes Debian packages on this machine with dpkg; set OVIK_PACKAGE_TEST=1 to run it"
  exit 77
fi
build="$1" decode="$2" models="$3" source="$4"
sandbox="$source/tools/cupsd-sandbox"
. "$(dirname "$0")/common.sh"

# A value of the build's CMake cache.
cached() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }

# dpkg's status word for a package: "installed", or empty.
package_state() {
  dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null | grep -x installed || true
}

# The files a package would install, one absolute path a line.
package_files() {
  dpkg-deb --fsys-tarfile "$1" | tar -t | grep -v '/$' | sed 's,^\./,/,'
}

# Mode, owner and group of a file, as "755 root root".
mode_owner() { stat -c '%a %U %G' "$1" 2>/dev/null; }

# Puts back the packages as they were, and files of an earlier install that
# no package owned.
restore() {
  local deb name
  for deb in "$work"/deb/*.deb; do
    [ -f "$deb" ] || continue
    name=$(dpkg-deb -f "$deb" Package)
    if grep -qx "$name" "$work/installed-before"; then
      [ -n "$(package_state "$name")" ] || dpkg -i "$deb" > /dev/null
    elif [ -n "$(package_state "$name")" ]; then
      dpkg -r "$name" > /dev/null
    fi
  done
  if [ -s "$work/unowned.tar" ]; then tar -xpf "$work/unowned.tar" -C /; fi
  # The build's install manifest describes the last real install, if any.
  if [ -f "$work/manifest" ]; then
    cp "$work/manifest" "$build/install_manifest.txt"
  elif [ -f "$work/no-manifest" ]; then
    rm -f "$build/install_manifest.txt"
  fi
}

need_scheduler
need gs ipptool lp lpadmin lpinfo dpkg dpkg-deb cpack cc pkg-config
begin package 280
for name in rastertoovik libovik-dev; do
  [ -z "$(package_state "$name")" ] || echo "$name"
done > "$work/installed-before"

serverbin=$(cached OVIK_CUPS_SERVERBIN)
ppd_dir=$(cached OVIK_PPD_INSTALL_DIR)
prefix=$(cached CMAKE_INSTALL_PREFIX)
libdir=$(cached CMAKE_INSTALL_LIBDIR)
shipped=$(ppd_names "$(cached OVIK_PPD_DIR)")
filter="$serverbin/filter/rastertoovik"

# cmake --install into a DESTDIR: the filter and the PPDs where CUPS looks,
# whatever the prefix; the tools, library, headers and pkg-config file
# under the prefix. The uninstall target takes it all away again.
if [ -f "$build/install_manifest.txt" ]; then
  cp "$build/install_manifest.txt" "$work/manifest"
else
  touch "$work/no-manifest"
fi
stage="$work/stage"
DESTDIR="$stage" cmake --install "$build" > "$work/install.log" || fail "cmake --install failed"
for installed in "$filter" "$serverbin/filter/commandtoovik"; do
  [ "$(mode_owner "$stage$installed")" = "755 root root" ] ||
    fail "installed filter $installed: $(mode_owner "$stage$installed"), not 755 root root"
done
[ "$(ppd_names "$stage$ppd_dir")" = "$shipped" ] ||
  fail "cmake --install did not put the PPD set into $ppd_dir"
for file in bin/ovik-decode bin/ovik-models "$libdir/libovik.a" "$libdir/pkgconfig/ovik.pc" \
            include/ovik/ovik_printer_model.h include/ovik/ovik_printer_helper_cmd.h; do
  [ -f "$stage$prefix/$file" ] || fail "cmake --install did not install $prefix/$file"
done
DESTDIR="$stage" cmake --build "$build" --target uninstall > "$work/uninstall.log" ||
  fail "the uninstall target failed"
left=$(find "$stage" -type f; find "$stage" -type d -path "*$ppd_dir")
[ -z "$left" ] || fail "uninstall left:\n$left"

# The Debian packages, from the same install rules.
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" > "$work/cpack.log" 2>&1 ||
  fail "cpack failed: $(tail -n 5 "$work/cpack.log")"
driver=$(ls "$work"/deb/rastertoovik_*.deb 2>/dev/null)
dev=$(ls "$work"/deb/libovik-dev_*.deb 2>/dev/null)
if [ ! -f "$driver" ] || [ ! -f "$dev" ]; then
  fail "cpack made no rastertoovik and libovik-dev packages"
  exit 1
fi
depends=$(dpkg-deb -f "$driver" Depends)
for package in cups libcups2 zlib1g; do
  case ", $depends" in *", $package"[\ ,]*|*", $package") ;; *) fail "rastertoovik does not depend on $package: $depends" ;; esac
done
dpkg-deb -c "$driver" | grep "^-rwxr-xr-x root/root .* \.$filter\$" > /dev/null ||
  fail "the package does not hold $filter as root-owned mode 755"

# Files of the packages that are on the system but owned by no package came
# from an earlier cmake --install; they are kept aside and put back.
for deb in "$driver" "$dev"; do
  grep -qx "$(dpkg-deb -f "$deb" Package)" "$work/installed-before" && continue
  package_files "$deb" | while read -r path; do
    [ -e "$path" ] && echo "${path#/}"
  done
done > "$work/unowned"
[ -s "$work/unowned" ] && tar -cpf "$work/unowned.tar" -C / -T "$work/unowned"

# Installed on this machine, the driver is where cupsd wants it.
dpkg -i "$driver" "$dev" > "$work/dpkg.log" 2>&1 || fail "dpkg -i failed: $(tail -n 5 "$work/dpkg.log")"
[ "$(mode_owner "$filter")" = "755 root root" ] ||
  fail "$filter: $(mode_owner "$filter"), not 755 root root"
[ "$(ppd_names "$ppd_dir")" = "$shipped" ] || fail "the package did not install the PPD set into $ppd_dir"

# A C program builds against the installed library through pkg-config.
cat > "$work/cut.c" <<'EOF'
#include <stdio.h>
#include <ovik_printer_helper_cmd.h>
#include <ovik_printer_model.h>

int main(void)
{
  uint8_t buf[255];
  uint32_t len = 0;
  const ovik_model_brief *model = ovik_printer_model_brief_find_by_name("Tern 80A");
  if (ovik_cmd_select_cut_mode_and_feed_paper(1, 0, 0, buf, sizeof buf, &len) != 0 || !model)
    return 1;
  for (uint32_t i = 0; i < len; i++)
    printf("%02X ", buf[i]);
  printf("%d\n", model->width_dots);
  return 0;
}
EOF
# shellcheck disable=SC2046
cc -std=c11 -Wall -Werror -o "$work/cut" "$work/cut.c" $(pkg-config --cflags --libs ovik) 2> "$work/cc.log" ||
  fail "a C program does not build against libovik-dev: $(head -n 5 "$work/cc.log")"
[ "$("$work/cut" 2>&1)" = "1D 56 41 00 576" ] || fail "the C program printed: $("$work/cut" 2>&1)"

# A C program prints a job through the installed job engine: the settings
# of a model and a keyword, one page, the stream to standard output.
cat > "$work/job.c" <<'EOF'
#include <stdio.h>
#include <string.h>
#include <ovik_engine.h>

static int to_stdout(void *context, const void *data, size_t length)
{
  (void)context;
  return fwrite(data, 1, length, stdout) == length ? 0 : 1;
}

int main(void)
{
  dev_mode settings;
  ovik_job_io io;
  ovik_printer_dev *job = NULL;
  ovik_page page = {576, 20, 72, 1, 1};
  memset(&io, 0, sizeof io);
  io.write = to_stdout;
  init_dev_mode(&settings);
  if (get_model_info(&settings, "Tern 80A", &io) != 0 ||
      ovik_settings_apply(&settings, ovik_keyword_find("CutMode"), "2", &io) != 0 ||
      ovik_printer_dev_creator(&settings, &io, &job) != 0 || ovik_job_begin(job) != 0 ||
      ovik_page_start(job, &page) != 0)
    return 1;
  ovik_page_pixels(job)[9 * 72] = 0x80;
  if (ovik_page_end(job) != 0 || ovik_job_end(job) != 0)
    return 1;
  ovik_printer_dev_destroy(job);
  return 0;
}
EOF
# shellcheck disable=SC2046
cc -std=c11 -Wall -Werror -o "$work/job" "$work/job.c" $(pkg-config --cflags --libs ovikengine) 2> "$work/cc.log" ||
  fail "a C program does not build against the installed job engine: $(head -n 5 "$work/cc.log")"
"$work/job" > "$work/job.prn" || fail "the C program's job failed"
expect_stream "$work/job.prn" "a job through the installed engine" \
  "paper type|document start|page header|bitmap|GS V feed n rows, full cut" page_headers=1 rows=10 cuts_full=1 \
  crc_errors=0 unknown_bytes=0 problems=0 stop_offset=-1

# The system's cupsd finds the drivers and prints through the installed filter.
start_cupsd --system
make_documents 1 "$source/samples/receipt.ps"
drivers=$(lpinfo -m | awk '$1 ~ /\/ovik-[^\/]*\.ppd$/ { print $1 }' | sort)
[ "$(echo "$drivers" | sed 's,.*/,,' | sort)" = "$shipped" ] ||
  fail "lpinfo -m does not list the installed PPD set: $(echo "$drivers" | head -n 3)"
tern=$(echo "$drivers" | grep '/ovik-tern-80a\.ppd$')
lpadmin -p installed -E -v "file:$work/installed.prn" -m "$tern" 2>/dev/null || fail "lpadmin -m $tern failed"
print_job installed "$work/installed.prn" -o PostPrintAction=2 -o CutMode=2 -o CutPaperLength=10 "$work/receipt.pdf"
expect_stream "$work/installed.prn" "PDF through the installed driver" \
  "paper type|document start|page header|bitmap|GS v 0 raster image|GS V feed n rows, full cut" \
  page_headers=1 bitmaps=1 "width_bytes=$(model_width_bytes "Tern 80A")" feed_rows=79 cuts_full=1 \
  crc_errors=0 unknown_bytes=0 problems=0 stop_offset=-1

# Removed, nothing of it is left and CUPS no longer offers it.
dpkg -r rastertoovik libovik-dev > "$work/dpkg.log" 2>&1 || fail "dpkg -r failed: $(tail -n 5 "$work/dpkg.log")"
left=$(package_files "$driver"; package_files "$dev")
left=$(for path in $left; do [ -e "$path" ] && echo "$path"; done; [ -d "$ppd_dir" ] && echo "$ppd_dir")
[ -z "$left" ] || fail "dpkg -r left:\n$left"
[ -z "$(lpinfo -m | grep '/ovik-[^/]*\.ppd ')" ] || fail "lpinfo -m still lists our PPDs after removal"

[ "$failures" -eq 0 ] && echo "all package checks passed"
