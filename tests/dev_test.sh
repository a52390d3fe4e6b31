#!/usr/bin/env bash
# scripts/dev end to end, on a copy of the effect and material sources and a
# stand-in for the demo: a saved .fx is generated into data/ and reaches the
# running program, a failed contact sheet is only a message, the sheet after
# the content build shows the new data, and TERM ends every child.
#   dev_test.sh SOURCE_DIR BIN_DIR MUSIC_CURVE WORK_DIR
set -u
src=${1:?source dir} bin=${2:?bin dir} curve=${3:?music curve}
dir=$(mktemp -d -p "${4:?work dir}") || exit 1
dev=
cleanup() {
  [ -z "$dev" ] || kill "$dev" 2>/dev/null
  # The stand-in's runs, should scripts/dev have left one behind.
  for pid in $(awk '{ print $1 }' "$dir/game.log" 2>/dev/null); do kill "$pid" 2>/dev/null; done
  rm -rf "$dir"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  echo "--- scripts/dev said:" >&2; cat "$dir/dev.out" >&2
  echo "--- the program's runs:" >&2; cat "$dir/game.log" >&2
  exit 1
}
# Polls a condition for up to N seconds.
within() {
  local end=$((SECONDS + $1)); shift
  until "$@"; do [ "$SECONDS" -lt "$end" ] || return 1; sleep 0.2; done
}

mkdir -p "$dir/content" "$dir/build/bin" "$dir/build/content/music"
cp -r "$src/content/fx" "$src/content/materials" "$dir/content/"
ln -s "$bin/contentgen" "$bin/fxcheck" "$dir/build/bin/"
cp "$curve" "$dir/build/content/music/"
touch "$dir/game.log"

# The stand-in: a sheet run writes the last line of data/fx/post.fx as its
# picture, and fails while that line is not a saved mark; the --controls run
# notes that line whenever it changes, as the demo's reload would.
cat > "$dir/build/bin/game" <<EOF
#!/usr/bin/env bash
echo "\$\$ \$*" >> "$dir/game.log"
seen() { tail -n 1 data/fx/post.fx 2>/dev/null; }
for a in "\$@"; do
  case \$a in
    --sheet=*) seen | grep -q mark || exit 1; seen > "\${a#--sheet=}"; exit 0 ;;
  esac
done
last=
while [ "\$SECONDS" -lt 300 ]; do
  now=\$(seen)
  [ "\$now" = "\$last" ] || { echo "\$now" > "$dir/seen"; last=\$now; }
  sleep 0.1
done
EOF
chmod +x "$dir/build/bin/game"

unset DISPLAY WAYLAND_DISPLAY
VELOX_DEV_BUILD=$dir/build VELOX_DEV_CONTENT=$dir/content VELOX_DEV_NO_BUILD=1 VELOX_DEV_POLL=0.2 \
  "$src/scripts/dev" > "$dir/dev.out" 2>&1 &
dev=$!

running() { [ -s "$dir/seen" ]; }
within 120 running || fail "the program did not start with generated data"
sheet_failed() { grep -q "contact sheet failed" "$dir/dev.out"; }
within 30 sheet_failed || fail "the failed contact sheet was not reported"
kill -0 "$dev" 2>/dev/null || fail "scripts/dev ended with the failed contact sheet"

echo "// mark $$" >> "$dir/content/fx/post.fx"
generated() { [ "$(tail -n 1 "$dir/build/data/fx/post.fx")" = "// mark $$" ]; }
within 60 generated || fail "the saved effect was not generated into data/"
reloaded() { [ "$(cat "$dir/seen")" = "// mark $$" ]; }
within 10 reloaded || fail "the running program did not see the new effect"
sheet_made() { [ "$(cat "$dir/build/dev/sheet.png" 2>/dev/null)" = "// mark $$" ]; }
within 30 sheet_made || fail "no contact sheet of the new data"
[ ! -e "$dir/build/dev/sheet.next.png" ] || fail "the sheet was left beside its place"

kill -TERM "$dev"
within 10 eval '! kill -0 "$dev" 2>/dev/null' || fail "scripts/dev did not end on TERM"
dev=
controls=$(awk '/--controls/ { print $1 }' "$dir/game.log")
[ -n "$controls" ] || fail "the program was not started with --controls"
gone() { ! kill -0 "$controls" 2>/dev/null; }
within 10 gone || fail "the program outlived scripts/dev"
echo "scripts/dev: rebuilt, reloaded, sheet made, children ended"
