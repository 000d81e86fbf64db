#!/usr/bin/env bash
# The built Debian package as Debian and a desktop read it: lintian, the dependencies, and the
# programs, template, icons, menu and software-centre entries and manual pages in place and valid.
#   check_package.sh PACKAGE.deb
set -euo pipefail
deb="$1"
problems=0
problem() { echo "PROBLEM: $*" >&2 && problems=$((problems + 1)); }

lintian --fail-on error "$deb" || problem "lintian reports errors"
depends="$(dpkg-deb -f "$deb" Depends)"
for want in espeak-ng-data pocketsphinx-en-us libflite1 libespeak-ng1 libpocketsphinx3 libqt6widgets6 \
  libqt6multimedia6 libvmime1 libsecret-1-0 libcurl4 libsodium23; do
  grep -Eq "(^|, )$want( |,|$)" <<<"$depends" || problem "Depends lacks $want"
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work"
u="$work/usr"
for f in bin/chimewise bin/chimewise-cli \
  share/olm-chimewise/data/CALENDAR.DBF share/olm-chimewise/data/CALENDAR.FPT share/olm-chimewise/data/CALENDAR.CDX \
  share/olm-chimewise/JOKES.dbf share/olm-chimewise/JOKES.fpt share/olm-chimewise/CHIMINST.DLL \
  share/olm-chimewise/characters/Hoot.ochar share/olm-chimewise/characters/Bolt.ochar \
  share/olm-chimewise/sound/ring.wav share/olm-chimewise/helpfile/notify.htm \
  share/applications/org.olmchimewise.Chimewise.desktop share/metainfo/org.olmchimewise.Chimewise.metainfo.xml \
  share/icons/hicolor/scalable/apps/olm-chimewise.svg share/man/man1/chimewise.1.gz share/man/man1/chimewise-cli.1.gz \
  share/doc/olm-chimewise/copyright share/doc/olm-chimewise/changelog.gz; do
  [ -s "$u/$f" ] || [ "$f" = share/olm-chimewise/CHIMINST.DLL ] && [ -e "$u/$f" ] || problem "missing /usr/$f"
done
# The generators beside the template in the source tree are not part of it.
leftovers="$(find "$u/share/olm-chimewise" -name '*.py' -o -name '*.sh' -o -name '*.txt' -o -name '*.fields')"
[ -z "$leftovers" ] || problem "source files installed: $leftovers"
for size in 16 22 24 32 48 64 128 256; do
  png="$u/share/icons/hicolor/${size}x$size/apps/olm-chimewise.png"
  [ "$(identify -format '%wx%h' "$png" 2>/dev/null)" = "${size}x$size" ] || problem "icon ${size}x$size missing or wrong"
done
desktop-file-validate "$u/share/applications/org.olmchimewise.Chimewise.desktop" || problem "invalid menu entry"
appstreamcli validate --no-net "$u/share/metainfo/org.olmchimewise.Chimewise.metainfo.xml" || problem "invalid metainfo"
for page in chimewise chimewise-cli; do
  warnings="$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
    "$u/share/man/man1/$page.1.gz" 2>&1 >/dev/null)"
  [ -z "$warnings" ] || problem "man page $page: $warnings"
done

# The installed programs find their template from their own prefix.
home="$work/home"
mkdir -p "$home"
listed="$(env -i HOME="$home" PATH=/usr/bin:/bin "$u/bin/chimewise-cli" list --all 2>&1)" ||
  problem "chimewise-cli failed in a fresh home: $listed"
[ -f "$home/.local/share/Olm Chimewise/data/CALENDAR.DBF" ] || problem "chimewise-cli did not seed the data folder"

[ "$problems" -eq 0 ] || { echo "$problems problem(s)" >&2; exit 1; }
echo "the package is sound"
