#!/usr/bin/env bash
# packaging/release.sh [OUTDIR]
#
# Builds every release artifact of this checkout from scratch, in a
# temporary folder, and writes them with their checksums to OUTDIR (default:
# dist/ in the checkout):
#
#   kestrave_<v>_amd64.deb, kestrave_<v>_arm64.deb    Debian packages
#   kestrave-<v>-linux-x86_64.tar.gz                  static binary, any distribution
#   kestrave-<v>-linux-aarch64.tar.gz                 the same for aarch64
#   kestrave-<v>-win64.zip                            kestrave.exe
#   kestrave-<v>.tar.gz                               the source, for packagers to pin
#   SHA256SUMS                                        sha256sum -c SHA256SUMS
#
# The same commit gives the same bytes wherever and whenever it is built:
# SOURCE_DATE_EPOCH (by default the last commit's time) stands in for every
# time stamp, and no file records the folder it was built in, the user, the
# umask, the time zone or the locale.
set -euo pipefail

root=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
out=$(realpath -m "${1:-$root/dist}")

export SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}"
export LC_ALL=C.UTF-8 TZ=UTC
umask 022

version=$(sed -n 's/^ *VERSION \([0-9][0-9.]*\)$/\1/p' "$root/CMakeLists.txt" | head -n 1)
[[ -n $version ]] || { echo "release.sh: no version in CMakeLists.txt" >&2; exit 1; }
# The Debian package is native: its changelog's latest entry is this version;
# and the man page names it too.
head -n 1 "$root/packaging/changelog" | grep -q "^kestrave ($version) " ||
    { echo "release.sh: packaging/changelog does not start with version $version" >&2; exit 1; }
grep -q "^\.TH .* \"kestrave $version\" " "$root/doc/kestrave.1" ||
    { echo "release.sh: doc/kestrave.1 does not name version $version" >&2; exit 1; }

if [[ -n $(git -C "$root" status --porcelain --untracked-files=no) ]]; then
    echo "release.sh: warning: uncommitted changes are built too; the release is not the last commit's" >&2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The files git tracks, as they stand in the working tree: the source of
# every build, and the source archive's one folder.
src=$work/kestrave-$version
mkdir "$src"
git -C "$root" ls-files -z | (cd "$root" && tar --null -T - -cf -) | tar -xf - -C "$src"

# Builds kestrave into $work/<name> and installs it under $work/<name>/stage.
# The compiler records source and build paths in debug information, which
# also feeds the build ID that survives stripping: they are mapped to
# folders that are the same for every build.
build() {
    local name=$1
    shift
    local flags="-ffile-prefix-map=$src=/usr/src/kestrave-$version -ffile-prefix-map=$work/$name=/usr/src/kestrave-$version/build"
    cmake -S "$src" -B "$work/$name" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
        -DCMAKE_CXX_FLAGS="$flags" "$@" >"$work/$name.log" ||
        { cat "$work/$name.log" >&2; return 1; }
    cmake --build "$work/$name" >>"$work/$name.log" || { cat "$work/$name.log" >&2; return 1; }
    DESTDIR="$work/$name/stage" cmake --install "$work/$name" >>"$work/$name.log"
}

# Gives a staged tree the modes and times every release shares, whatever the
# umask and clock of the machine that built it; the executables named after
# the tree are the only files with their execute bits set.
normalise() {
    find "$1" -type d -exec chmod 0755 {} +
    find "$1" -type f -exec chmod 0644 {} +
    chmod 0755 "${@:2}"
    find "$1" -exec touch --no-dereference --date="@$SOURCE_DATE_EPOCH" {} +
}

# tar with a fixed order, owner, group and time, gzip without a name or time.
tarball() {
    local folder=$1 file=$2
    tar --sort=name --format=ustar --owner=0 --group=0 --numeric-owner --mtime="@$SOURCE_DATE_EPOCH" \
        -C "$(dirname "$folder")" -cf - "$(basename "$folder")" | gzip -9n >"$file"
}

deb() {
    local name=$1 arch=$2 strip=$3
    # The package's tree, where Debian's tools expect it.
    local stage=$work/$name/debian/kestrave
    mkdir -p "$work/$name/debian"
    mv "$work/$name/stage" "$stage"
    mkdir "$stage/DEBIAN"
    local doc=$stage/usr/share/doc/kestrave
    "$strip" --remove-section=.comment --remove-section=.note "$stage/usr/bin/kestrave"
    gzip -9n "$stage/usr/share/man/man1/kestrave.1"
    mkdir -p "$doc"
    cp "$src/packaging/copyright" "$doc/copyright"
    gzip -9n <"$src/packaging/changelog" >"$doc/changelog.gz"

    # dpkg-shlibdeps reads the libraries' symbols files of the package's own
    # architecture (libc6:arm64 for arm64), so the minimum versions are those
    # the binary really needs, under the names a system of that architecture
    # has. It wants a debian/control beside the package's tree.
    printf 'Source: kestrave\n\nPackage: kestrave\nArchitecture: any\n' >"$work/$name/debian/control"
    local depends
    depends=$(cd "$work/$name" && DEB_HOST_ARCH=$arch dpkg-shlibdeps -O debian/kestrave/usr/bin/kestrave |
        sed -n 's/^shlibs:Depends=//p')
    if [[ -z $depends || $depends == *-cross* ]]; then
        echo "release.sh: no Depends for $arch from dpkg-shlibdeps ('$depends'): is libc6:$arch installed?" >&2
        return 1
    fi
    local size
    size=$(find "$stage" -type f -printf '%s\n' | awk '{ kib += int(($1 + 1023) / 1024) } END { print kib }')

    sed -e "s/@VERSION@/$version/" -e "s/@ARCHITECTURE@/$arch/" -e "s/@INSTALLED_SIZE@/$size/" \
        -e "s/@DEPENDS@/$depends/" "$src/packaging/control.in" >"$stage/DEBIAN/control"
    (cd "$stage" && find usr -type f | sort | xargs md5sum) >"$stage/DEBIAN/md5sums"
    normalise "$stage" "$stage/usr/bin/kestrave"
    dpkg-deb --root-owner-group -Zxz --build "$stage" "$out/kestrave_${version}_$arch.deb" >/dev/null
}

linux_tarball() {
    local name=$1 arch=$2 strip=$3
    local stage=$work/$name/stage folder=$work/$name/kestrave-$version-linux-$arch
    mkdir "$folder"
    cp "$stage/usr/bin/kestrave" "$stage/usr/share/man/man1/kestrave.1" "$src/README.md" "$src/LICENSE" \
        "$folder/"
    "$strip" --remove-section=.comment --remove-section=.note "$folder/kestrave"
    normalise "$folder" "$folder/kestrave"
    tarball "$folder" "$out/kestrave-$version-linux-$arch.tar.gz"
}

# A zip stores local times and the host's file attributes: both are fixed
# here, the times to SOURCE_DATE_EPOCH in UTC.
windows_zip() {
    local stage=$work/win64/stage
    x86_64-w64-mingw32-strip --remove-section=.comment "$stage/kestrave.exe"
    python3 - "$out/kestrave-$version-win64.zip" "$stage" kestrave.exe LICENSE README.md <<'PYTHON'
import os, sys, time, zipfile
target, folder, *names = sys.argv[1:]
stamp = time.gmtime(int(os.environ["SOURCE_DATE_EPOCH"]))[:6]
with zipfile.ZipFile(target, "w") as archive:
    for name in sorted(names):
        entry = zipfile.ZipInfo(name, date_time=stamp)
        entry.create_system = 3
        entry.external_attr = (0o100755 if name.endswith(".exe") else 0o100644) << 16
        entry.compress_type = zipfile.ZIP_DEFLATED
        with open(os.path.join(folder, name), "rb") as f:
            archive.writestr(entry, f.read(), compresslevel=9)
PYTHON
}

# The source archive: the tracked files in one folder, executable where git
# records them so. An archive made on the fly by a code host can change its
# bytes from one day to the next; this one is made like the other files.
source_tarball() {
    local executables
    mapfile -d '' executables < <(git -C "$root" ls-files -s -z | sed -z -n 's/^100755 [0-9a-f]* [0-9]*\t//p')
    normalise "$src" "${executables[@]/#/$src/}"
    tarball "$src" "$out/kestrave-$version.tar.gz"
}

mkdir -p "$out"
rm -f "$out"/kestrave_*.deb "$out"/kestrave-*.tar.gz "$out"/kestrave-*.zip "$out/SHA256SUMS"

echo "kestrave $version, SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH"
source_tarball
build amd64 -DCMAKE_INSTALL_PREFIX=/usr
deb amd64 amd64 strip
build arm64 -DCMAKE_INSTALL_PREFIX=/usr --toolchain "$src/cmake/aarch64-linux-gnu.cmake"
deb arm64 arm64 aarch64-linux-gnu-strip
build static-x86_64 -DCMAKE_INSTALL_PREFIX=/usr -DKESTRAVE_STATIC=ON
linux_tarball static-x86_64 x86_64 strip
build static-aarch64 -DCMAKE_INSTALL_PREFIX=/usr -DKESTRAVE_STATIC=ON --toolchain "$src/cmake/aarch64-linux-gnu.cmake"
linux_tarball static-aarch64 aarch64 aarch64-linux-gnu-strip
build win64 -DCMAKE_INSTALL_PREFIX=/ --toolchain "$src/cmake/mingw-w64.cmake"
windows_zip

(cd "$out" && sha256sum kestrave_*.deb kestrave-*.tar.gz kestrave-*.zip >SHA256SUMS)
cat "$out/SHA256SUMS"
