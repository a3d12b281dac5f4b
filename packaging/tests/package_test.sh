#!/usr/bin/env bash
# Builds the Debian package with CPack from the build folder and checks its
# files, its control fields and its maintainer scripts.
#   package_test.sh BUILD_DIR BINDIR VERSION
# Exit 77 when the Debian tools CPack needs are missing.
set -euo pipefail
build=$1 bindir=$2 version=$3

for tool in cpack dpkg-deb dpkg-shlibdeps file; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" > "$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
debs=("$work"/out/dizaruz_*.deb)
[ "${#debs[@]}" -eq 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL: no single package: ${debs[*]}"; exit 1; }
deb=${debs[0]}
fail=0
bad() { echo "FAIL: $*"; fail=1; }

[ "$(basename "$deb")" = "dizaruz_${version}_$(dpkg --print-architecture).deb" ] || bad "package file is $(basename "$deb")"

# Files: the program, mode 755, in the compiled-in binary folder; nothing of the tests.
listing=$(dpkg-deb -c "$deb")
echo "$listing" | grep -Eq "^-rwxr-xr-x root/root .* \.$bindir/dizaruz$" || bad "no executable .$bindir/dizaruz"
for path in ./etc/ufw/applications.d/dizaruz ./usr/share/applications/org.dizaruz.dizaruz.desktop \
            ./usr/share/metainfo/org.dizaruz.dizaruz.metainfo.xml \
            ./usr/share/icons/hicolor/scalable/apps/org.dizaruz.dizaruz.svg \
            ./usr/share/icons/hicolor/48x48/apps/org.dizaruz.dizaruz.png \
            ./usr/share/kio/servicemenus/org.dizaruz.dizaruz.send.desktop ./usr/share/nemo/actions/dizaruz.nemo_action; do
  echo "$listing" | grep -q " $path$" || bad "package lacks $path"
done
echo "$listing" | grep -Eq 'harness|_tests|peer_driver|/usr/local/' && bad "package holds what it should not: $(echo "$listing" | grep -E 'harness|_tests|peer_driver|/usr/local/')"
[ "$(echo "$listing" | grep -c '^-')" -eq 13 ] || bad "package holds $(echo "$listing" | grep -c '^-') files, not 13"
mkdir "$work/root"
dpkg-deb -x "$deb" "$work/root"
file -b "$work/root$bindir/dizaruz" | grep -q 'stripped$' || bad "the program is not stripped: $(file -b "$work/root$bindir/dizaruz")"

# Control fields: shared libraries found by shlibdeps, and the Qt platform
# plug-ins, which the program loads at run time.
[ "$(dpkg-deb -f "$deb" Package)" = dizaruz ] || bad "Package is $(dpkg-deb -f "$deb" Package)"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || bad "Version is $(dpkg-deb -f "$deb" Version)"
depends=$(dpkg-deb -f "$deb" Depends)
for dep in qt6-qpa-plugins libcap2-bin 'libc6 (>=' 'libqt6core6 (>=' 'libqt6gui6 (>=' 'libqt6widgets6 (>=' \
           'libqt6network6 (>=' 'libqt6dbus6 (>=' 'libjpeg62-turbo (>=' 'libstdc++6 (>=' 'libavahi-client3 (>='; do
  [[ ", $depends," == *", $dep"* ]] || bad "Depends lacks $dep: $depends"
done
[[ ", $(dpkg-deb -f "$deb" Recommends)," == *", avahi-daemon,"* ]] || bad "Recommends lacks avahi-daemon: $(dpkg-deb -f "$deb" Recommends)"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] && [ -n "$(dpkg-deb -f "$deb" Description)" ] || bad "no Maintainer or Description"
[ "$(dpkg-deb -f "$deb" Section)" = net ] || bad "Section is $(dpkg-deb -f "$deb" Section)"

# Maintainer scripts: the firewall profile is a conffile, and configure
# grants the capability, or says clearly that it could not.
dpkg-deb -e "$deb" "$work/control"
[ "$(cat "$work/control/conffiles")" = /etc/ufw/applications.d/dizaruz ] || bad "conffiles: $(cat "$work/control/conffiles")"
postinst="$work/control/postinst"
[ -x "$postinst" ] || bad "postinst is not executable"
sh -n "$postinst" || bad "postinst is no valid shell script"

# setcap stands in by a script that records its arguments, or is missing.
mkdir "$work/tools"
printf '#!/bin/sh\necho "$@" >> "%s/setcap.calls"\n' "$work" > "$work/tools/setcap"
chmod +x "$work/tools/setcap"
out=$(PATH="$work/tools" /bin/sh "$postinst" configure 2>&1) || bad "postinst configure failed"
[ "$(cat "$work/setcap.calls" 2>/dev/null)" = "cap_net_bind_service=+ep $bindir/dizaruz" ] \
  || bad "postinst ran setcap as: $(cat "$work/setcap.calls" 2>/dev/null)"
[ -z "$out" ] || bad "postinst said on success: $out"
rm -f "$work/setcap.calls"
out=$(PATH="$work/tools" /bin/sh "$postinst" upgrade 2>&1) || bad "postinst upgrade failed"
[ ! -e "$work/setcap.calls" ] || bad "postinst ran setcap outside configure"
rm "$work/tools/setcap"
out=$(PATH="$work/tools" /bin/sh "$postinst" configure 2>&1) || bad "postinst failed without setcap"
[[ "$out" == *"could not grant $bindir/dizaruz the right to listen on ports 573 and 574"* ]] \
  || bad "postinst without setcap said: $out"
printf '#!/bin/sh\necho "Failed to set capabilities on file" >&2\nexit 1\n' > "$work/tools/setcap"
chmod +x "$work/tools/setcap"
out=$(PATH="$work/tools" /bin/sh "$postinst" configure 2>&1) || bad "postinst failed when setcap failed"
[[ "$out" == *"could not grant $bindir/dizaruz"* ]] || bad "postinst with a failing setcap said: $out"

[ "$fail" -eq 0 ] && echo "package $(basename "$deb"), $(stat -c %s "$deb") bytes; Depends: $depends"
exit "$fail"
