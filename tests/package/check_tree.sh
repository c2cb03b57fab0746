#!/bin/bash
# Checks an installed tree as the desktop and its tools see it: the file list, the desktop entry,
# the AppStream metadata, the icons, the file types and default handler that xdg-mime reports,
# the manual page against --help, and the shell completion.
# Usage: tests/package/check_tree.sh PREFIX
#        tests/package/check_tree.sh --install BUILD_DIR
#   PREFIX is where the tree is installed (the usr/ of an unpacked package, or a prefix of
#   cmake --install); with --install, BUILD_DIR is installed into a temporary prefix first.
#   Writes nothing outside a temporary folder and PREFIX/share's caches.
set -eu
SOURCE=$(cd "$(dirname "$0")/../.." && pwd)
ID=org.norvane.Orlendo
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
if [ "$1" = --install ]; then
  cmake --install "$2" --prefix "$WORK/prefix" >/dev/null
  PREFIX=$WORK/prefix
else
  PREFIX=$(cd "$1" && pwd)
fi
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# --- The file list: the desktop files by name, the data folder as the checkout's resources. ---
{
  cat "$SOURCE/tests/package/files.txt"
  (cd "$SOURCE/resources" && find . -type f | sed 's|^\./|share/quillet/|')
} | sort >"$WORK/expected"
# The MIME and desktop caches are the desktop's, built below (and by dpkg's triggers).
(cd "$PREFIX" && find . -type f -o -type l) | sed 's|^\./||' |
  awk '!(/^share\/mime\// && !/^share\/mime\/packages\//) && $0 != "share/applications/mimeinfo.cache"' |
  sort >"$WORK/actual"
if ! diff -u "$WORK/expected" "$WORK/actual" >"$WORK/list.diff"; then
  fail "installed files differ from tests/package/files.txt (- expected, + installed):"
  cat "$WORK/list.diff" >&2
fi
[ -x "$PREFIX/bin/quillet" ] || fail "bin/quillet is not executable"

# --- Validators. ---
desktop-file-validate "$PREFIX/share/applications/$ID.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net --explain "$PREFIX/share/metainfo/$ID.metainfo.xml" ||
  fail "appstreamcli validate"

# --- Icons: every PNG has the size its folder names. ---
for png in "$PREFIX"/share/icons/hicolor/*x*/apps/$ID.png; do
  size=$(basename "$(dirname "$(dirname "$png")")")
  got=$(python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); print("%dx%d" % struct.unpack(">II", d[16:24]) if d[:8]==b"\x89PNG\r\n\x1a\n" else "not-png")' "$png")
  [ "$got" = "$size" ] || fail "$png is $got"
done
grep -q '<svg' "$PREFIX/share/icons/hicolor/scalable/apps/$ID.svg" || fail "no scalable icon"

# --- The version: the program, the manual page, the AppStream release agree. ---
version_line=$("$PREFIX/bin/quillet" --version)
number=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$PREFIX/share/metainfo/$ID.metainfo.xml")
IFS=. read -r major minor build <<<"$number"
[ "$version_line" = "quillet (Orlendo) v$major.$minor (build $build)" ] ||
  fail "--version says '$version_line', the metadata $number"
zcat "$PREFIX/share/man/man1/quillet.1.gz" | grep -q "^\.TH QUILLET 1 .*\"Orlendo $number\"" ||
  fail "the manual page does not name version $number"

# --- The installed program finds its data and its window module loads. ---
"$PREFIX/bin/quillet" "$SOURCE/resources/sample.msg" /E txt "$WORK/sample.txt" /NOINI >/dev/null ||
  fail "the installed quillet does not export"
grep -q "Orlendo" "$WORK/sample.txt" 2>/dev/null || fail "exported text lacks the subject"
python3 -c 'import ctypes,sys; ctypes.CDLL(sys.argv[1]); ctypes.CDLL(sys.argv[1]).quillet_window_main' \
  "$PREFIX/lib/quillet/quillet_window.so" || fail "the window module does not load"

# --- File types and the default handler, as a session with this prefix on its path sees them.
# dpkg's triggers build these caches for a package; here the test builds them. ---
update-mime-database "$PREFIX/share/mime" 2>/dev/null
update-desktop-database "$PREFIX/share/applications"
export HOME="$WORK/home" XDG_DATA_HOME="$WORK/home/.local/share" XDG_CONFIG_HOME="$WORK/home/.config"
export XDG_DATA_DIRS="$PREFIX/share:/usr/share"
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID
mkdir -p "$HOME"
types=$(sed -n 's/^MimeType=//p' "$PREFIX/share/applications/$ID.desktop")
cp "$SOURCE/tests/data/corpus/msg/poi_blank.msg" "$WORK/x.msg"
cp "$SOURCE/tests/data/corpus/eml/mailparser_decoderended.eml" "$WORK/x.eml"
cp "$SOURCE/tests/data/corpus/mht/$(ls "$SOURCE/tests/data/corpus/mht" | head -1)" "$WORK/x.mht"
cp "$WORK/x.mht" "$WORK/x.mhtml"
printf '120\nFrom: a@example.org\nSubject: x\n\nbody\n' >"$WORK/x.emlx"
for ext in msg eml emlx mht mhtml; do
  type=$(xdg-mime query filetype "$WORK/x.$ext")
  case ";$types" in
  *";$type;"*) ;;
  *) fail ".$ext types as '$type', which the desktop entry does not list" ;;
  esac
  default=$(xdg-mime query default "$type")
  [ "$default" = "$ID.desktop" ] || fail "the default for $type (.$ext) is '$default'"
done
[ "$(xdg-mime query filetype "$WORK/x.msg")" = application/vnd.ms-outlook ] ||
  fail ".msg is not application/vnd.ms-outlook"

# --- The manual page renders without a warning and names every switch of --help. ---
man_text=$(LC_ALL=C MANWIDTH=80 man --warnings -l "$PREFIX/share/man/man1/quillet.1.gz" 2>"$WORK/man.err" |
  LC_ALL=C sed 's/\x1b\[[0-9;]*m//g; s/.\x08//g')
[ -s "$WORK/man.err" ] && fail "man reports: $(cat "$WORK/man.err")"
for section in NAME SYNOPSIS DESCRIPTION OPTIONS FILES "EXIT STATUS" EXAMPLES; do
  grep -q "^$section" <<<"$man_text" || fail "the manual page has no $section section"
done
switches=$("$PREFIX/bin/quillet" --help | grep -o -E '(^|[ (,|])(/[A-Z]+=?|--?[a-z]+=?)' |
  sed 's/^[ (,|]//' | sort -u)
[ -n "$switches" ] || fail "no switches found in --help"
for s in $switches; do
  grep -q -F -- "$s" <<<"$man_text" ||
    fail "the manual page does not mention $s"
done

# --- Bash completion: switches, formats after /E. ---
if [ -f /usr/share/bash-completion/bash_completion ]; then
  complete_words() {
    bash -c '. /usr/share/bash-completion/bash_completion
      . "$1"; shift
      COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
      _quillet quillet "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
      printf "%s\n" "${COMPREPLY[@]}"' _ "$PREFIX/share/bash-completion/completions/quillet" "$@"
  }
  complete_words quillet --no | grep -qx -- --noini || fail "completion lacks --noini"
  complete_words quillet x.msg /E "" | grep -qx eml || fail "completion lacks the formats after /E"
  complete_words quillet /DEFF | grep -qx /DEFFORMAT= || fail "completion lacks /DEFFORMAT="
  complete_words quillet --defformat=h | grep -qx -- --defformat=HTML ||
    fail "completion lacks the values of --defformat"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed for $PREFIX" >&2
  exit 1
fi
echo "install tree $PREFIX: all checks passed"
