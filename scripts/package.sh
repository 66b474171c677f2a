#!/usr/bin/env bash
# Makes the release files in dist/: the Windows zip, the Debian package and
# SHA256SUMS for both. Installs what it needs first (scripts/setup.sh), builds
# the two release presets (no tests, no test-only options), and fails when
# lintian reports an error in the package.
#
# The version is the project version of CMakeLists.txt; the Debian package
# adds its revision from packaging/debian/changelog, whose newest entry must
# be for that version. Files get the time of the newest commit, so building
# the same commit twice gives the same zip and package.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh lintian zip dpkg-dev >/dev/null

work=$(mktemp -d /tmp/quillmoor-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
say() { echo "== $*"; }

# --- the two release builds --------------------------------------------------
say "Building the release programs"
# Debian's build flags, hardening included, for the Linux program.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake --preset release-linux \
  "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)" >"$work/configure-linux.log" || { cat "$work/configure-linux.log"; exit 1; }
cmake --build --preset release-linux >"$work/build-linux.log" || { tail -n 40 "$work/build-linux.log"; exit 1; }
cmake --preset release-windows >"$work/configure-windows.log" || { cat "$work/configure-windows.log"; exit 1; }
cmake --build --preset release-windows >"$work/build-windows.log" || { tail -n 40 "$work/build-windows.log"; exit 1; }

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release-linux/CMakeCache.txt)
deb_version=$(dpkg-parsechangelog -l packaging/debian/changelog -S Version)
if [ "${deb_version%-*}" != "$version" ]; then
  echo "packaging/debian/changelog starts with $deb_version, but the program is $version:" \
       "add an entry for $version-1 at its top." >&2
  exit 1
fi
built=$(build/release-linux/quillmoor version | head -n 1)
if [ "$built" != "Quillmoor $version" ]; then
  echo "The release program says \"$built\", not \"Quillmoor $version\"." >&2
  exit 1
fi

SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
export SOURCE_DATE_EPOCH
release_date=$(date -u -d "@$SOURCE_DATE_EPOCH" +%Y-%m-%d)
# fill FILE: the file with @VERSION@ and @DATE@ replaced.
fill() { sed -e "s/@VERSION@/$version/g" -e "s/@DATE@/$release_date/g" "$1"; }
# crlf: standard input with Windows line ends, for the texts of the zip.
crlf() { sed -e 's/$/\r/'; }

rm -rf dist
mkdir -p dist

# --- the Windows zip ---------------------------------------------------------
say "Windows zip"
zip_name="quillmoor-$version-windows-x64.zip"
staging="$work/windows"
mkdir -p "$staging"
x86_64-w64-mingw32-strip -o "$staging/quillmoor.exe" build/release-windows/quillmoor.exe
fill packaging/windows/README.txt | crlf >"$staging/README.txt"
crlf <packaging/windows/THIRD-PARTY-NOTICES.txt >"$staging/THIRD-PARTY-NOTICES.txt"
chmod 0644 "$staging/README.txt" "$staging/THIRD-PARTY-NOTICES.txt"
chmod 0755 "$staging/quillmoor.exe"
touch -d "@$SOURCE_DATE_EPOCH" "$staging"/*
(cd "$staging" && zip -q -X -9 "$OLDPWD/dist/$zip_name" quillmoor.exe README.txt THIRD-PARTY-NOTICES.txt)

# --- the Debian package ------------------------------------------------------
say "Debian package"
root="$work/deb"
doc="$root/usr/share/doc/quillmoor"
install -d -m 0755 "$root/DEBIAN" "$root/usr/bin" "$root/usr/share/man/man1" "$doc"
strip --remove-section=.comment --remove-section=.note --strip-unneeded \
  -o "$root/usr/bin/quillmoor" build/release-linux/quillmoor
chmod 0755 "$root/usr/bin/quillmoor"
fill packaging/quillmoor.1 | gzip -9n >"$root/usr/share/man/man1/quillmoor.1.gz"
gzip -9n <packaging/debian/changelog >"$doc/changelog.Debian.gz"
install -m 0644 packaging/debian/copyright "$doc/copyright"
chmod 0644 "$root/usr/share/man/man1/quillmoor.1.gz" "$doc/changelog.Debian.gz"

# The libraries the program needs, as dpkg-shlibdeps finds them; it reads a
# debian/control of the package being built, so it gets a small one.
mkdir -p "$work/shlibdeps/debian"
printf 'Source: quillmoor\n\nPackage: quillmoor\nArchitecture: amd64\n' >"$work/shlibdeps/debian/control"
depends=$(cd "$work/shlibdeps" && dpkg-shlibdeps -O "$root/usr/bin/quillmoor" | sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "dpkg-shlibdeps found no libraries for the program." >&2; exit 1; }
installed_size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)

cat >"$root/DEBIAN/control" <<EOF
Package: quillmoor
Version: $deb_version
Architecture: amd64
Maintainer: $(dpkg-parsechangelog -l packaging/debian/changelog -S Maintainer)
Installed-Size: $installed_size
Depends: $depends
Recommends: xdg-utils
Suggests: curl
Section: admin
Priority: optional
Description: see what starts with the computer, and switch it on or off
 Quillmoor lists what starts with this computer: the systemd units that
 start at boot, the user units that start at sign-in, the XDG autostart
 files and the @reboot lines of cron, each with its package. For each item
 it explains in plain words what switching it off would do.
 .
 Items are switched off and on safely: every change goes through a reviewed
 plan, a backup is taken first, and every change lands in a history from
 which it can be undone. Items the system needs are never switched off.
 Its window is a page in the browser, served on 127.0.0.1; every operation
 is also a command.
EOF
(cd "$root" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$root/DEBIAN/md5sums"
chmod 0644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"
find "$root" -type d -exec chmod 0755 {} +
find "$root" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
deb_name="quillmoor_${deb_version}_amd64.deb"
dpkg-deb --root-owner-group -Zxz --build "$root" "dist/$deb_name" >/dev/null

say "lintian"
lintian_out=$(lintian --info "dist/$deb_name" 2>&1) || true
[ -n "$lintian_out" ] && echo "$lintian_out"
if grep -q '^E: ' <<<"$lintian_out"; then
  echo "lintian reports errors in dist/$deb_name." >&2
  exit 1
fi

(cd dist && sha256sum "$zip_name" "$deb_name" >SHA256SUMS)
say "Made in dist/:"
(cd dist && ls -l "$zip_name" "$deb_name" SHA256SUMS | awk '{ print "  " $5 "  " $NF }')
