#!/usr/bin/env bash
# Measures what the test suite catches: applies each deliberate fault below,
# one at a time, to a scratch copy of the source, builds it, runs the whole
# suite (stopping at the first failure) and prints which test caught it.
# A fault no test fails is a gap in the suite.
#
#   tests/faults.sh            every fault
#   tests/faults.sh F03 F12    only these
#   tests/faults.sh --check    only checks that each fault applies and compiles
#
# Run as root after ./test.sh has installed the packages. The scratch copy
# and its build stay in $ZARVEX_FAULTS_DIR (default /tmp/zarvex-faults), so a
# second run only rebuilds what changed. Results: $ZARVEX_FAULTS_DIR/result.txt
# The body is one block, read whole before it runs: an edit of this file
# during a run does not change the run.
{
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
scratch=${ZARVEX_FAULTS_DIR:-/tmp/zarvex-faults}

declare -a ids=()
declare -A what file old new
fault() { ids+=("$1"); what[$1]=$2; file[$1]=$3; old[$1]=$4; new[$1]=$5; }

# Each fault: id, what goes wrong, file, the text it replaces (exactly one
# occurrence), the faulty text.
fault F01 "a file pass is not flushed before the next" src/filewipe/overwrite.cpp \
  $'s.FileLength = static_cast<std::int64_t>(file.size());\n    file.sync();' 's.FileLength = static_cast<std::int64_t>(file.size());'
fault F02 "a file pass writes a twenty-first of the file" src/filewipe/overwrite.cpp \
  'file.writePattern(block, passBytes, progress, streamFrom(stream));' 'file.writePattern(block, passBytes / 21, progress, streamFrom(stream));'
fault F03 "a symbolic link swapped in for a file is followed" src/platform/overwritefile.cpp \
  'O_PATH | O_NOFOLLOW | O_CLOEXEC' 'O_PATH | O_CLOEXEC'
fault F04 "the protected-folder comparison is case-blind" src/filewipe/wipeprocedure.cpp \
  'if (afterRoot.left(8) == QStringLiteral("Recycled")' 'if (afterRoot.left(8).toLower() == QStringLiteral("recycled")'
fault F05 "the second file pass writes the wrong byte" src/filewipe/overwrite.cpp \
  "return QByteArray(length, '1');" "return QByteArray(length, '2');"
fault F06 "the letter patterns start one letter early" src/engine/filldata.cpp \
  'int code = 66 + k;' 'int code = 65 + k;'
fault F07 "exactly 800 KiB left skips the medium fill stage" src/engine/freespacewipe.cpp \
  'if (s_.FreeSpaceKB <= kLargeStageKB && s_.FreeSpaceKB > kMediumStageKB' 'if (s_.FreeSpaceKB < kLargeStageKB && s_.FreeSpaceKB > kMediumStageKB'
fault F08 "a pass that ends early leaves its fill files" src/engine/freespacewipe.cpp \
  $'        abandon();\n        removeCreated();' '        abandon();'
fault F09 "the file system's reserve is not put back" src/platform/reservedspace.cpp \
  '    closeFd(helperInput_);' '    if (false) closeFd(helperInput_);'
fault F10 "the boot-drive refusal is skipped" src/app/entiredrive.cpp \
  'if (ctx.fill.DriveCategory == drives::CategoryFixed &&' 'if (false &&'
fault F11 "a message text is changed" src/engine/freespacewipe.cpp \
  'may indicated your drive' 'may indicate your drive'
fault F12 "the device's ends are not overwritten before a format" src/format/formathelper.cpp \
  'if (!v.held->overwriteEnds(kEndBytes, &why))' 'if (kEndBytes == 0 && !v.held->overwriteEnds(kEndBytes, &why))'
fault F13 "a letter that is only a folder is wiped without a question" src/engine/freespacewipe.cpp \
  'if (*own == *holding)' 'if (true)'
fault F14 "a read-back difference passes" src/platform/readback.cpp \
  'if (at >= 0)' 'if (at >= 0 && false)'
fault F15 "a hard-linked file is wiped through all its names" src/platform/overwritefile.cpp \
  'if (sx.stx_nlink > 1)' 'if (sx.stx_nlink > 99)'
fault F16 "a file's name is not overwritten before its deletion" src/platform/overwritefile.cpp \
  'const QByteArray last = overwriteName(folder_->fd_, nameToBytes(name_), id_, path_, left);' 'const QByteArray last = nameToBytes(name_);'
fault F17 "the Complete free-space wipe makes one pass too few" src/engine/freespacewipe.cpp \
  'return wipeLevel == 1 ? 12 : 6;' 'return wipeLevel == 1 ? 11 : 6;'
fault F18 "a file of exactly 1,000,000 bytes gets the small-file passes" src/filewipe/wipeprocedure.cpp \
  'return fileLength >= kLargeFile ? 20 : 40;' 'return fileLength > kLargeFile ? 20 : 40;'
fault F19 "a fill file replaces a user's file of the same name" src/platform/fillfile.cpp \
  $'(nativePath).constData(),\n                          O_WRONLY | O_CREAT | O_EXCL' $'(nativePath).constData(),\n                          O_WRONLY | O_CREAT'
fault F20 "the free space is not trimmed" src/engine/freespacewipe.cpp \
  'trimmed_ = !factory_ && platform::trimFreeSpace(folder_);' 'trimmed_ = false;'
fault F21 "a short file's own blocks are not overwritten first (NTFS resident data)" src/filewipe/overwrite.cpp \
  'if (own > 0 && own < passBytes) {' 'if (false) {'
fault F22 "free NTFS records and btrfs metadata are not filled" src/engine/freespacewipe.cpp \
  'pass.records().fill(shared);' ';'
fault F23 "a fill file is not entered in the wipe journal" src/engine/filltarget.cpp \
  'journal_.creating(path);' ';'
fault F24 "the help topic Wipe Free Space reads the wrong text" src/info/frminfo.cpp \
  '"Orvane Wipe Free Space Instructions", "FreeWipe"}' '"Orvane Wipe Free Space Instructions", "WipeFree"}'
fault F25 "a file bind-mounted from another volume is written" src/platform/overwritefile.cpp \
  '    if (otherMount)' '    if (false && otherMount)'
fault F26 "a chosen immutable file stops the run" src/platform/overwritefile.cpp \
  'if (hasAttribute(sx, STATX_ATTR_IMMUTABLE))' 'if (false)'
fault F27 "a sparse file's pass is started without the room for it" src/filewipe/wipeprocedure.cpp \
  'needed > 0 && needed > file.freeSpace()' 'needed > 0 && false'
fault F28 "the helper formats whatever device a mount's source text names" src/platform/mounts.cpp \
  'if (st.st_rdev != makedev(mount.major, mount.minor))' 'if (false)'
fault F29 "a journal entry deletes a file outside the wiped folder" src/platform/wipejournal.cpp \
  'const bool removed = isFillFileOf(path, folder) && ' 'const bool removed = isFillFileOf(folder + QStringLiteral("/tmptxt"), folder) && '
fault F30 "the reserve is called put back without reading it again" src/platform/reservedspace.cpp \
  'return readReserve(knob_) == old_;
}' 'return true;
}'
fault F31 "the record fill's folder is not entered in the wipe journal" src/engine/filltarget.cpp \
  'journal_.creating(path, true);' ';'
fault F32 "a second wipe of the same drive is not refused" src/platform/volumelock.cpp \
  'if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {' 'if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && false) {'
fault F33 "a quota is taken for a full drive" src/engine/freespacewipe.cpp \
  'if (e.isQuotaLimit()) {' 'if (false) {'
fault F34 "copy-on-write files are called wiped with their old copies in the free space" src/platform/overwritefile.cpp \
  'r.copyOnWrite = !(haveFlags && (flags & FS_NOCOW_FL));' 'r.copyOnWrite = false;'
fault F35 "extended attributes are left with the file" src/filewipe/wipeprocedure.cpp \
  'const int attributes = file.wipeAttributes(passPattern(4, true).repeated(50), attributeProblems);' 'const int attributes = 0;'
fault F36 "the ext4 journal keeps old attribute blocks" src/filewipe/wipeprocedure.cpp \
  'if (result_.filesWiped == 0)
        return;
    view_.setStatus' 'if (result_.filesWiped >= 0)
        return;
    view_.setStatus'
fault F37 "a running program's file stops the run instead of being named" src/platform/overwritefile.cpp \
  'if (fd < 0 && (errno == ETXTBSY || errno == EBUSY))' 'if (false)'

apply() { # file old new: replaces the one occurrence, or fails
  OLD=$2 NEW=$3 perl -0777 -i -pe '
    my $n = () = /\Q$ENV{OLD}\E/g;
    die "matches $n times\n" if $n != 1;
    s/\Q$ENV{OLD}\E/$ENV{NEW}/;' "$1"
}

# --check: each fault applies, and the faulty file compiles without a warning
# (with the flags of the build in build/, which must exist).
if [ "${1:-}" = --check ]; then
  bad=0
  commands=$(ninja -C "$top/build" -t commands 2>/dev/null)
  for id in "${ids[@]}"; do
    copy=$(mktemp --suffix=.cpp)
    cp "$top/${file[$id]}" "$copy"
    if ! apply "$copy" "${old[$id]}" "${new[$id]}" 2>/dev/null; then
      echo "$id does not apply: ${what[$id]}"; bad=1
    else
      compile=$(grep -m1 -F -- "-c $top/${file[$id]}" <<<"$commands" |
        perl -pe 's/ -MD -MT \S+ -MF \S+//; s/ -o \S+/ -o \/dev\/null/; s/ -c \S+/ -c '"${copy//\//\\/}"'/')
      if [ -z "$compile" ]; then
        echo "$id: no compile command for ${file[$id]} in build/"; bad=1
      elif ! (cd "$top/build" && eval "$compile") >/dev/null 2>&1; then
        echo "$id does not compile: ${what[$id]}"; bad=1
      fi
    fi
    rm -f "$copy"
  done
  [ $bad = 0 ] && echo "All ${#ids[@]} faults apply and compile."
  exit $bad
fi

chosen=("$@")
[ ${#chosen[@]} -gt 0 ] || chosen=("${ids[@]}")
for id in "${chosen[@]}"; do
  [ -n "${file[$id]:-}" ] || { echo "No fault $id." >&2; exit 2; }
done

# The scratch copy holds exactly the tracked files. Only files whose content
# differs are copied, with a new time: the build after the first is
# incremental, and a fault left by an interrupted run is compiled away.
mkdir -p "$scratch/tree"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
git -C "$top" ls-files -z | tar -C "$top" --null -T - -cf - | tar -C "$stage" -xf -
(cd "$scratch/tree" && find . -type f) | while read -r f; do
  [ -e "$stage/$f" ] || rm -f "$scratch/tree/$f"
done
(cd "$stage" && find . -type f) | while read -r f; do
  cmp -s "$stage/$f" "$scratch/tree/$f" || { mkdir -p "$(dirname "$scratch/tree/$f")"; cp "$stage/$f" "$scratch/tree/$f"; }
done
src="$scratch/tree"
cmake -S "$src" -B "$scratch/build" -G Ninja -DZARVEX_TESTS=ON >/dev/null || exit 2

# The suite's temporary folders, scratch volumes among them, go under one
# folder of the scratch copy; what a crashed test left mounted there is
# unmounted after each run (and nothing of anyone else's).
tmp="$scratch/tmp"
mkdir -p "$tmp"
tidy() {
  awk -v t="$tmp/" 'index($5, t) == 1 {print $5}' /proc/self/mountinfo | sort -r |
    while read -r m; do umount -l "$m" 2>/dev/null; done
  losetup -n -O NAME,BACK-FILE 2>/dev/null | awk -v t="$tmp/" 'index($2, t) == 1 {print $1}' |
    while read -r l; do losetup -d "$l" 2>/dev/null; done
  find "$tmp" -mindepth 1 -maxdepth 1 -exec rm -rf --one-file-system {} + 2>/dev/null
}

# Builds and runs the suite; prints the first failing test, or nothing.
run_suite() {
  cmake --build "$scratch/build" >"$scratch/build.log" 2>&1 || { echo "(does not build)"; return; }
  rm -f "$scratch/build/Testing/Temporary/LastTestsFailed.log"
  (cd "$scratch/build" && TMPDIR="$tmp" QT_QPA_PLATFORM=offscreen ctest --timeout 600 -j1 --stop-on-failure \
    >"$scratch/ctest.log" 2>&1)
  tidy
  local failed="$scratch/build/Testing/Temporary/LastTestsFailed.log"
  [ -s "$failed" ] && head -n 1 "$failed" | cut -d: -f2-
}

echo "Building the scratch copy and running the suite without a fault..."
first=$(run_suite)
if [ -n "$first" ]; then
  echo "The suite fails without a fault ($first): fix that first." >&2
  exit 1
fi

out="$scratch/result.txt"
: >"$out"
caught=0
for id in "${chosen[@]}"; do
  f="$src/${file[$id]}"
  cp "$f" "$f.orig"
  if ! apply "$f" "${old[$id]}" "${new[$id]}" 2>"$scratch/apply.log"; then
    line="$id  does not apply ($(cat "$scratch/apply.log")): ${what[$id]}"
  else
    by=$(run_suite)
    if [ "$by" = "(does not build)" ]; then
      line="$id  does not build: ${what[$id]}"
    elif [ -n "$by" ]; then
      line="$id  caught by $by: ${what[$id]}"
      caught=$((caught + 1))
    else
      line="$id  MISSED: ${what[$id]}"
    fi
  fi
  # A new time, so that the next build compiles the file again.
  mv "$f.orig" "$f" && touch "$f"
  echo "$line" | tee -a "$out"
done
echo "Caught $caught of ${#chosen[@]}." | tee -a "$out"
exit
}
