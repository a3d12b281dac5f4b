#!/usr/bin/env bash
# Installs into a temporary DESTDIR and checks what lands where, then runs
# the desktop's own validators on the menu entry and the AppStream metainfo.
#   install_layout_test.sh BUILD_DIR PREFIX BINDIR DATADIR
# BINDIR and DATADIR are the full install folders; exit 77 when a validator
# is missing.
set -euo pipefail
build=$1 prefix=$2 bindir=$3 datadir=$4
id=org.dizaruz.dizaruz

for tool in desktop-file-validate appstreamcli file; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
DESTDIR=$dest cmake --install "$build" > "$dest.log" 2>&1 || { cat "$dest.log"; exit 1; }
rm -f "$dest.log"
fail=0
bad() { echo "FAIL: $*"; fail=1; }

# Exactly these files, and the firewall profile under /etc whatever the prefix.
expected=(
  "$bindir/dizaruz"
  "$datadir/applications/$id.desktop"
  "$datadir/metainfo/$id.metainfo.xml"
  "$datadir/icons/hicolor/scalable/apps/$id.svg"
  "$datadir/kio/servicemenus/$id.send.desktop"
  "$datadir/nemo/actions/dizaruz.nemo_action"
  /etc/ufw/applications.d/dizaruz
)
for size in 16 32 48 64 128 256; do
  expected+=("$datadir/icons/hicolor/${size}x${size}/apps/$id.png")
done
actual=$(cd "$dest" && find . -type f | sed 's|^\.||' | sort)
wanted=$(printf '%s\n' "${expected[@]}" | sort)
[ "$actual" = "$wanted" ] || bad "installed files differ:"$'\n'"$(diff <(echo "$wanted") <(echo "$actual") || true)"
case "$bindir" in "$prefix"/*) ;; *) bad "binary folder $bindir is outside the prefix $prefix" ;; esac

[ -x "$dest$bindir/dizaruz" ] || bad "the program is not executable"
for size in 16 32 48 64 128 256; do
  png="$dest$datadir/icons/hicolor/${size}x${size}/apps/$id.png"
  file -b "$png" | grep -q "^PNG image data, $size x $size," || bad "$png is not a $size-pixel PNG: $(file -b "$png")"
done
grep -q '<svg' "$dest$datadir/icons/hicolor/scalable/apps/$id.svg" || bad "the scalable icon is no SVG"

# The menu entry: valid, and naming what was installed.
desktop="$dest$datadir/applications/$id.desktop"
out=$(desktop-file-validate "$desktop" 2>&1) || bad "desktop-file-validate failed"
[ -z "$out" ] || bad "desktop-file-validate reports: $out"
key() { grep -m1 "^$1=" "$desktop" | cut -d= -f2-; }
[ "$(key Icon)" = "$id" ] || bad "Icon is $(key Icon)"
[ "$(key Exec)" = "dizaruz %F" ] || bad "Exec is $(key Exec)"
[ "$(key Terminal)" = "false" ] || bad "Terminal is $(key Terminal)"
[ "$(key Categories)" = "Network;FileTransfer;Qt;" ] || bad "Categories is $(key Categories)"
for k in Name GenericName Comment Keywords 'GenericName\[ru\]' 'Comment\[ru\]' 'Keywords\[ru\]'; do
  [ -n "$(key "$k")" ] || bad "no $k"
done

# "Send with Dizaruz": Dolphin's service menu is a desktop file of KDE's own
# type "Service", which the validator knows only to refuse its MimeType and
# Actions keys; anything else it reports is a fault. Nemo's action has no
# validator: its keys are checked here.
menu="$dest$datadir/kio/servicemenus/$id.send.desktop"
out=$(desktop-file-validate "$menu" 2>&1 | grep -Ev ': error: key "(MimeType|Actions)" is present in group "Desktop Entry", but the type is "Service" while this key is only valid for type "Application"$' || true)
[ -z "$out" ] || bad "desktop-file-validate reports on the service menu: $out"
grep -qx 'Type=Service' "$menu" && grep -qx 'Actions=send;' "$menu" && grep -qx 'MimeType=application/octet-stream;inode/directory;' "$menu" \
  || bad "the service menu is not a service for files and folders: $(cat "$menu")"
[ "$(sed -n '/^\[Desktop Action send\]/,$p' "$menu" | grep -c -x -e 'Exec=dizaruz %F' -e 'Name=Send with Dizaruz')" -eq 2 ] \
  || bad "the service menu's action: $(cat "$menu")"
action="$dest$datadir/nemo/actions/dizaruz.nemo_action"
for line in '[Nemo Action]' 'Name=Send with Dizaruz' 'Exec=dizaruz %F' 'Selection=notnone' 'Extensions=any;' \
            "Icon-Name=$id"; do
  grep -qxF "$line" "$action" || bad "the Nemo action lacks $line"
done

# The metainfo: valid on its own and together with the menu entry it names.
metainfo="$dest$datadir/metainfo/$id.metainfo.xml"
out=$(appstreamcli validate --no-net --pedantic "$metainfo" 2>&1) || bad "appstreamcli validate failed: $out"
echo "$out" | grep -Eq '^ *[EWIP]:' && bad "appstreamcli validate reports: $out"
out=$(appstreamcli validate-tree --no-net "$dest" 2>&1) || bad "appstreamcli validate-tree failed: $out"
echo "$out" | grep -Eq '^ *[EW]:' && bad "appstreamcli validate-tree reports: $out"
for tag in "<id>$id</id>" "<launchable type=\"desktop-id\">$id.desktop</launchable>" "<binary>dizaruz</binary>" \
           '<content_rating type="oars-1.1"' '<screenshot type="default">' '<release version=' '<summary>'; do
  grep -qF "$tag" "$metainfo" || bad "metainfo lacks $tag"
done

# The firewall profile: "ufw allow Dizaruz" opens both ports.
profile="$dest/etc/ufw/applications.d/dizaruz"
[ "$(head -1 "$profile")" = "[Dizaruz]" ] || bad "ufw profile is not named Dizaruz"
grep -qx 'ports=573,574/tcp' "$profile" || bad "ufw profile does not open 573 and 574: $(cat "$profile")"
grep -q '^title=.' "$profile" && grep -q '^description=.' "$profile" || bad "ufw profile lacks title or description"

[ "$fail" -eq 0 ] && echo "install layout: ok"
exit "$fail"
