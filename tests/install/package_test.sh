#!/usr/bin/env bash
# The Debian package as a user gets it, one CTest test per step:
#   build       cpack makes the .deb, which is unpacked into a scratch root
#   layout      files, modes and owners; dependencies; menu entry, icon,
#               polkit action and manual page (which must say what --help says)
#   program     the unpacked program, started by the menu entry's command,
#               finds its helper and its database in their installed places
#   reserve     as root, the installed helper releases the reserve of an
#               ext4 scratch volume and puts it back when its input closes
#   privileges  for a plain user the helper is started through pkexec, and
#               the helper itself refuses to run for such a user
#   clean       the scratch root goes
# Usage: package_test.sh STEP BUILD_DIR
set -euo pipefail
step=$1
build=$2
state=$build/package-test-root # names the scratch root between the steps

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*" >&2; exit 1; }
# expect TEXT PATTERN WHAT: TEXT must match the extended regular expression.
expect() { grep -Eq -- "$2" <<<"$1" || fail "$3; got: ${1:0:400}"; }
literal() { sed 's/[][().*^$|+?]/\\&/g' <<<"$1"; } # as a regular expression

if [ "$step" = build ]; then
    for tool in cpack dpkg-deb dpkg-shlibdeps file; do
        command -v "$tool" >/dev/null || skip "$tool is not installed"
    done
    [ -s "$state" ] && rm -rf "$(cat "$state")"
    scratch=$(mktemp -d /tmp/zarvexwipe-package.XXXXXX)
    chmod 755 "$scratch" # the privileges step runs the program as nobody
    echo "$scratch" >"$state"
    (cd "$build" && cpack -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1) || {
        cat "$scratch/cpack.log"
        fail "cpack could not build the package"
    }
    mv "$scratch"/out/zarvexwipe_*.deb "$scratch/zarvexwipe.deb"
    rm -rf "$scratch/out"
    dpkg-deb -x "$scratch/zarvexwipe.deb" "$scratch/root"
    echo "built $(stat -c %s "$scratch/zarvexwipe.deb") bytes: $(dpkg-deb -f "$scratch/zarvexwipe.deb" Depends)"
    exit 0
fi

[ -s "$state" ] || skip "the package was not built"
scratch=$(cat "$state")
if [ "$step" = clean ]; then
    rm -rf "$scratch" "$state"
    exit 0
fi
deb=$scratch/zarvexwipe.deb
root=$scratch/root
helper=$root/usr/libexec/zarvexwipe/zarvexformat
desktop=$root/usr/share/applications/zarvexwipe.desktop
export QT_QPA_PLATFORM=offscreen HOME=$scratch/home XDG_DATA_HOME= XDG_RUNTIME_DIR=$scratch/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# The installed program as the menu entry starts it, found on the search path.
menu_command() {
    local exec_line
    exec_line=$(sed -n 's/^Exec=//p' "$desktop")
    # shellcheck disable=SC2086 # the Exec line is a command with arguments
    PATH="$root/usr/bin:$PATH" $exec_line "$@"
}

case $step in
layout)
    files=$(cd "$root" && find . -type f -printf '%P %m\n' | sort)
    expected=$(sort <<'EOF'
usr/bin/zarvexwipe 755
usr/libexec/zarvexwipe/zarvexformat 755
usr/share/applications/zarvexwipe.desktop 644
usr/share/doc/zarvexwipe/copyright 644
usr/share/icons/hicolor/16x16/apps/zarvexwipe.png 644
usr/share/icons/hicolor/24x24/apps/zarvexwipe.png 644
usr/share/icons/hicolor/32x32/apps/zarvexwipe.png 644
usr/share/icons/hicolor/48x48/apps/zarvexwipe.png 644
usr/share/icons/hicolor/64x64/apps/zarvexwipe.png 644
usr/share/icons/hicolor/128x128/apps/zarvexwipe.png 644
usr/share/icons/hicolor/256x256/apps/zarvexwipe.png 644
usr/share/icons/hicolor/scalable/apps/zarvexwipe.svg 644
usr/share/man/man1/zarvexwipe.1.gz 644
usr/share/polkit-1/actions/org.zarvexwipe.format.policy 644
usr/share/zarvexwipe/ZarvexWipe.db 644
EOF
)
    [ "$files" = "$expected" ] || fail "the package holds other files or modes:
$files"
    odd_dirs=$(cd "$root" && find . -type d ! -perm 755)
    [ -z "$odd_dirs" ] || fail "folders not 755: $odd_dirs"
    not_root=$(dpkg-deb -c "$deb" | awk '$2 != "root/root"')
    [ -z "$not_root" ] || fail "entries not owned by root: $not_root"

    depends=$(dpkg-deb -f "$deb" Depends)
    for p in libqt6widgets6 libqt6sql6-sqlite dosfstools ntfs-3g e2fsprogs mount 'pkexec \| policykit-1'; do
        expect "$depends" "(^|, )$p( |,|$)" "Depends lacks $p"
    done

    command -v desktop-file-validate >/dev/null || fail "desktop-file-validate is not installed"
    said=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $said"
    [ -z "$said" ] || fail "desktop-file-validate: $said"
    expect "$(file -b "$root/usr/share/icons/hicolor/128x128/apps/zarvexwipe.png")" '^PNG image data, 128 x 128' \
        "the icon is no 128x128 PNG"

    policy=$root/usr/share/polkit-1/actions/org.zarvexwipe.format.policy
    expect "$(cat "$policy")" 'exec\.path">/usr/libexec/zarvexwipe/zarvexformat<' "the policy names another helper"
    # The prompt shows the command line, whose --about names the volume.
    expect "$(cat "$policy")" '<message>[^<]*\$\(command_line\)</message>' "the password prompt does not name the volume"

    # The manual page renders without warnings and says what --help says.
    man_text=$(zcat "$root/usr/share/man/man1/zarvexwipe.1.gz")
    if command -v groff >/dev/null; then
        warnings=$(groff -man -ww -z -Tutf8 <<<"$man_text" 2>&1)
        [ -z "$warnings" ] || fail "groff: $warnings"
    fi
    man_plain=$(sed -e 's/\\-/-/g' -e '/^\.\\"/d' -e 's/^\.[A-Z]* *//' -e 's/"//g' <<<"$man_text" | tr -s ' \n' ' ')
    usage=$("$root/usr/bin/zarvexwipe" --help)
    for option in $(grep -oE -- '--[a-z]+' <<<"$usage" | sort -u); do
        expect "$man_plain" " $option" "the manual page lacks $option"
    done
    expect "$man_plain" "$(sed -n 's/^Exit codes: //p' <<<"$usage")" "the manual page lacks the exit codes"
    for command in free-space drive files folder records disk disks; do
        help=$("$root/usr/bin/zarvexwipe" "$command" --help)
        summary=$(sed -n '2,/^  --/p' <<<"$help" | sed '/^  --/d' | tr -s ' \n' ' ' | sed 's/ $//')
        expect "$man_plain" "$(literal "$summary")" "the manual page lacks: $summary"
        while read -r flag text; do
            expect "$man_plain" "$flag [^-]*$(literal "$text")" "the manual page lacks $command's $flag: $text"
        done < <(grep '^  --' <<<"$help")
    done
    ;;
program)
    expect "$(menu_command --version)" '^zarvexwipe [0-9.]+$' "--version"
    rc=0
    said=$(ZARVEX_DRIVES='c=/' menu_command free-space q:) || rc=$?
    [ "$rc" = 1 ] || fail "free-space q: ended with $rc"
    expect "$said" '^There is no drive Q:' "free-space q:"

    # Its parts, from the installed places; the database is read through
    # the user's own copy, never written where the package put it.
    paths=$(menu_command --paths)
    expect "$paths" "^format helper: $helper\$" "the helper"
    expect "$paths" "^info database: $root/usr/share/zarvexwipe/ZarvexWipe.db\$" "the database"
    copy=$HOME/.local/share/ZarvexWipe/ZarvexWipe.db
    expect "$paths" "^info database in use: $copy \(texts version [0-9]+\)\$" "the database in use"
    cmp -s "$copy" "$root/usr/share/zarvexwipe/ZarvexWipe.db" || fail "the user's copy differs from the shipped file"
    if [ "$(id -u)" = 0 ]; then
        expect "$paths" "^format helper started as: $helper\$" "root starts the helper without pkexec"
    fi

    # The installed helper runs from there and refuses before it touches anything.
    rc=0
    said=$(ZARVEX_DRIVES='c=/' "$helper" q: /fs:ntfs/x/y/q 2>&1) || rc=$?
    [ "$rc" = 1 ] || fail "the helper ended with $rc: $said"
    if [ "$(id -u)" = 0 ]; then
        expect "$said" 'q: was not formatted: there is no drive with this letter' "the helper's refusal"
    fi
    ;;
reserve)
    [ "$(id -u)" = 0 ] || skip "mounting a scratch volume needs root"
    command -v mkfs.ext4 >/dev/null || skip "mkfs.ext4 is not installed"
    volume=$scratch/volume
    mkdir -p "$volume/mnt"
    truncate -s 8M "$volume/ext4.img"
    mkfs.ext4 -q -F "$volume/ext4.img"
    mount -o loop "$volume/ext4.img" "$volume/mnt" 2>/dev/null || skip "no loop device to mount an image"
    trap 'umount "$volume/mnt" 2>/dev/null || umount -l "$volume/mnt"' EXIT
    knob=/sys/fs/ext4/$(basename "$(findmnt -n -o SOURCE "$volume/mnt")")/reserved_clusters
    before=$(cat "$knob")
    [ "$before" != 0 ] || skip "the scratch volume keeps no reserve"

    # As a fill uses it: released until its input closes, then put back.
    coproc HELPER { "$helper" --release-reserve --folder "$volume/mnt" t: 2>&1; }
    pid=$HELPER_PID
    read -r -t 20 said <&"${HELPER[0]}" || fail "the helper said nothing"
    [ "$said" = "released $before" ] || fail "the helper said: $said"
    [ "$(cat "$knob")" = 0 ] || fail "reserved_clusters is $(cat "$knob") while released"
    eval "exec ${HELPER[1]}>&-"
    rc=0
    wait "$pid" || rc=$?
    [ "$rc" = 0 ] || fail "the helper ended with $rc"
    [ "$(cat "$knob")" = "$before" ] || fail "reserved_clusters is $(cat "$knob"), was $before"
    ;;
privileges)
    # A plain user: nobody, when root can switch to it; the caller otherwise.
    as_user=()
    if [ "$(id -u)" = 0 ]; then
        command -v setpriv >/dev/null || skip "setpriv is not installed"
        as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    fi
    expect "$(HOME=/nonexistent "${as_user[@]}" "$root/usr/bin/zarvexwipe" --paths)" \
        "^format helper started as: /usr/bin/pkexec $helper\$" "a user starts the helper through pkexec"

    # Not through pkexec: refused before anything, whatever the caller says.
    refused() { # refused WHAT COMMAND...
        local what=$1 rc=0 said
        shift
        said=$(ZARVEX_DRIVES="c=/;t=$scratch" PKEXEC_UID=0 "$@" 2>&1) || rc=$?
        [ "$rc" = 1 ] || fail "$what: the helper ended with $rc: $said"
        expect "$said" 'needs root privileges' "$what"
    }
    refused "a format for a user" "${as_user[@]}" "$helper" t: /fs:ntfs/x/y/q
    refused "a reserve release for a user" "${as_user[@]}" "$helper" --release-reserve t:
    if [ "$(id -u)" = 0 ]; then
        # Root only in its effective id, as a set-user-ID copy would run.
        refused "a format for a set-user-ID caller" setpriv --ruid=65534 "$helper" t: /fs:ntfs/x/y/q
    fi
    ;;
*)
    fail "unknown step $step"
    ;;
esac
echo "ok: $step"
