#!/usr/bin/env bash
# The installed layout and the Debian package, checked as a desktop and a package manager see
# them: the desktop files pass their validators; an install into a temporary prefix has every
# file in place, and its quillmere-cli renders an installed example with the installed colour
# maps; the MIME rules give each kind of file its type and the desktop entry as its default
# application; lintian finds no error in the package.
#   install_test.sh SOURCE_DIR BUILD_DIR VERSION
set -euo pipefail
source_dir=$1
build_dir=$2
version=$3
app=org.quillmere.Quillmere

fail() {
    echo "FAILED: $*" >&2
    exit 1
}
step() { echo "== $*"; }

for tool in desktop-file-validate appstreamcli xmllint update-mime-database \
    update-desktop-database gio lintian dpkg-shlibdeps cpack cmp; do
    command -v "$tool" >/dev/null || fail "$tool is missing (bash scripts/install-deps.sh installs it)"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/qm-install-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
# A copy of Quillmere installed on this machine must not stand in for the one under test.
export XDG_DATA_HOME=$work/no-data XDG_DATA_DIRS=$work/no-data
export XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache

step "validators"
desktop-file-validate "$source_dir/packaging/$app.desktop"
appstreamcli validate --no-net "$source_dir/packaging/$app.metainfo.xml"
xmllint --noout "$source_dir/packaging/$app.xml"
# A new version needs its release in the metainfo and its entry in the package's changelog.
grep -q "<release version=\"$version\"" "$source_dir/packaging/$app.metainfo.xml" ||
    fail "the metainfo has no release $version"
IFS= read -r latest <"$source_dir/packaging/debian/changelog"
[[ $latest == "quillmere ($version-"* ]] ||
    fail "packaging/debian/changelog does not start with version $version"

step "install into a temporary prefix"
prefix=$work/prefix
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
for file in bin/quillmere bin/quillmere-cli \
    share/quillmere/speed.map share/quillmere/angle.map share/quillmere/quillmere.ENU \
    share/quillmere/examples/lorenz.qmattr share/quillmere/examples/ifs.qmattr \
    share/applications/$app.desktop share/mime/packages/$app.xml share/metainfo/$app.metainfo.xml \
    share/icons/hicolor/scalable/apps/$app.svg share/icons/hicolor/48x48/apps/$app.png \
    share/icons/hicolor/256x256/apps/$app.png \
    share/icons/hicolor/scalable/mimetypes/application-x-quillmere-attractor.svg \
    share/icons/hicolor/32x32/mimetypes/application-x-quillmere-attractor.png \
    share/man/man1/quillmere.1.gz share/man/man1/quillmere-cli.1.gz \
    share/bash-completion/completions/quillmere-cli \
    share/doc/quillmere/copyright share/doc/quillmere/changelog.Debian.gz; do
    [ -f "$prefix/$file" ] || fail "$file is not installed"
done
for program in quillmere quillmere-cli; do
    grep -q "^\.TH ${program^^} .*$version" <(gzip -dc "$prefix/share/man/man1/$program.1.gz") ||
        fail "the manual page of $program does not name it and its version"
done
bash -n "$prefix/share/bash-completion/completions/quillmere-cli" || fail "the completion does not parse"

step "versions and help without a display"
[ "$("$prefix/bin/quillmere-cli" --version)" = "quillmere-cli $version" ] || fail "quillmere-cli --version"
[ "$(env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/quillmere" --version)" = "quillmere $version" ] ||
    fail "quillmere --version"
grep -q '^Usage: quillmere' <(env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/quillmere" --help) ||
    fail "quillmere --help"

step "the installed tool renders with the installed colour maps"
example=$prefix/share/quillmere/examples/lorenz.qmattr
render() {
    "$1" render "$example" -o "$2" --mode Lumière --size 160x120 --iterations 300000 --seed 1 \
        --quiet "${@:3}" >/dev/null
}
render "$prefix/bin/quillmere-cli" "$work/installed.bmp"
render "$build_dir/bin/quillmere-cli" "$work/build-tree.bmp"
render "$prefix/bin/quillmere-cli" "$work/builtin.bmp" --builtin-gradients
cmp -s "$work/installed.bmp" "$work/build-tree.bmp" || fail "the installed render differs from the build tree's"
! cmp -s "$work/installed.bmp" "$work/builtin.bmp" || fail "the installed tool did not load the installed maps"
# A copy with nothing beside it nor in ../share finds the maps in the XDG data folders.
mkdir -p "$work/copy/bin"
cp "$prefix/bin/quillmere-cli" "$work/copy/bin/"
XDG_DATA_HOME=$prefix/share render "$work/copy/bin/quillmere-cli" "$work/xdg.bmp"
cmp -s "$work/installed.bmp" "$work/xdg.bmp" || fail "a copy did not find the maps in \$XDG_DATA_HOME"

step "file types and the default application"
samples=$work/samples
mkdir -p "$samples"
cp "$example" "$samples/x.qmattr"
cp "$example" "$samples/scene.qmscene"
{ printf '\n  \n\t'; cat "$example"; } >"$samples/indented-no-extension"
printf 'QMRENDER\001\000\000\000' >"$samples/render-state"
printf 'Notes on the Lorenz attractor and its parameters.\n' >"$samples/notes.txt"
expect_type() {
    local got
    got=$(gio info -a standard::content-type "$samples/$1" | sed -n 's/^ *standard::content-type: //p')
    [ "$got" = "$2" ] || fail "$1 is $got, not $2"
    echo "$1: $got"
}
(
    export XDG_DATA_HOME=$prefix/share XDG_DATA_DIRS=/usr/local/share:/usr/share PATH=$prefix/bin:$PATH
    update-mime-database "$prefix/share/mime"
    update-desktop-database "$prefix/share/applications"
    expect_type x.qmattr application/x-quillmere-attractor
    expect_type scene.qmscene application/x-quillmere-scene
    expect_type indented-no-extension application/x-quillmere-attractor
    expect_type render-state application/x-quillmere-render
    expect_type notes.txt text/plain
    for type in attractor scene render; do
        default=$(gio mime "application/x-quillmere-$type" | sed -n '1s/.*: //p')
        [ "$default" = "$app.desktop" ] ||
            fail "the default application of application/x-quillmere-$type is $default"
    done
)

step "Debian package"
cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$work/package" >/dev/null
deb=$(echo "$work"/package/quillmere_*.deb)
[ -f "$deb" ] || fail "cpack wrote no package"
dpkg-deb -f "$deb" Package Version Depends
contents=$(dpkg-deb -c "$deb")
grep -q ' ./usr/share/doc/quillmere/copyright$' <<<"$contents" || fail "no copyright file"
grep -q ' ./usr/share/doc/quillmere/changelog.Debian.gz$' <<<"$contents" || fail "no changelog"
status=0
report=$(lintian --fail-on error "$deb" 2>&1) || status=$?
grep -v 'root privileges' <<<"$report" || true
[ "$status" -eq 0 ] || fail "lintian reports an error"
echo "all packaging checks passed"
