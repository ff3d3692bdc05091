#!/usr/bin/env bash
# The Windows installer under Wine, in the project's own prefix: installed silently, quil found by a new
# console through the PATH, the two verbs in the registry and the Send To entry in place, the registry's
# own "Repair with QUIL" command repairing a copy of a model in place, a rebuild of the same version and
# a newer build each replacing the installed one (one product at a time), and a removal that leaves no
# file, no key and no PATH entry behind; then the user's PATH (none, one ending in ';', one not) through
# installations, upgrades and removals: QUIL's folder once and no empty entry, and the PATH given back.
# Besides, winget's manifests: every version a quoted string, the fields each kind needs, and no
# installer manifest without the address the MSI is published at; README.txt with a byte-order mark, and
# quil.exe's version in the installer's File table; Apps and Features' entry (folder, icon, no "Modify"),
# quil.exe's icon and the shortcut's short name; with QUIL_SIGN_CERT (test-windows.sh's throwaway
# certificate), the signatures of quil.exe and the installer. Then a newer installer over a running
# quil.exe (3010, the new one in place after a restart), and an installation for the machine
# (ALLUSERS=1: Program Files, the machine's PATH, HKLM); at the end, HKLM\Software, the machine's PATH
# and its folders are as they were before the first installation.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export WINEPREFIX="$root/build/windows/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
msi="$(ls "$root"/build/windows/quil-*-windows-x64.msi)"
version="$(basename "$msi" | cut -d- -f2)"
work="$root/build/windows/msi-check"
users="$WINEPREFIX/drive_c/users"
sendto="$users/$(whoami)/AppData/Roaming/Microsoft/Windows/SendTo"
installed="$users/$(whoami)/AppData/Local/Programs/QUIL/quil.exe"
machine_env='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
rm -rf "$work" && mkdir -p "$work"

fail() { echo "check-msi: $*" >&2; exit 1; }
w() { wine "$@" 2>/dev/null | tr -d '\r'; }
# Whether a new console finds quil through the PATH. Under load a new console under Wine has once not
# found it although the registry already held the PATH: three tries, a second apart.
finds_quil() {
  local try
  for try in 1 2 3; do
    [ "$(w cmd /c quil --version)" = "quil $version" ] && return 0
    sleep 1
  done
  return 1
}
# Every file and folder of the users, and HKCU as text. The installer service's own bookkeeping keys,
# left empty once nothing is installed (Windows has them already), are not QUIL's.
snapshot() {
  (cd "$users" && find . | sort) > "$work/$1.files"
  wine reg export HKCU "$work/$1.reg" /y >/dev/null 2>&1
  iconv -f UTF-16 -t UTF-8 "$work/$1.reg" | tr -d '\r' | grep -v '^$' |
    grep -vx '\[HKEY_CURRENT_USER\\Software\\Microsoft\\Installer\(\\Features\|\\Products\|\\UpgradeCodes\)\?\]' \
      > "$work/$1.keys"
}
# Program Files, the installer's cache, and as text the keys of HKLM that an installation of QUIL
# writes (its own, 64-bit or not, the verbs, Apps and Features, the installer service's) and the machine's
# PATH; the installer service's bookkeeping keys, left empty, are not QUIL's, nor is a key's absence.
machine_snapshot() {
  local key
  (cd "$WINEPREFIX/drive_c" && find "Program Files" windows/Installer | sort) > "$work/$1.machine-files"
  for key in QUIL Wow6432Node\\QUIL Classes\\SystemFileAssociations Classes\\Installer \
             Microsoft\\Windows\\CurrentVersion\\Uninstall Microsoft\\Windows\\CurrentVersion\\Installer; do
    w reg query "HKLM\\Software\\$key" /s || true
  done > "$work/$1.hklm"
  w reg query "$machine_env" /v Path >> "$work/$1.hklm"
  grep -vEx '|reg: .*|HKEY_LOCAL_MACHINE\\Software\\(Classes\\Installer|Microsoft\\Windows\\CurrentVersion\\Installer)(\\[A-Za-z]+|\\UserData\\S-[0-9-]+(\\[A-Za-z]+)?)?' \
    "$work/$1.hklm" > "$work/$1.machine-keys"
}
# The user's own PATH in HKCU: "=" and its value, or nothing when there is none.
user_path() { w reg query 'HKCU\Environment' | sed -n 's/^ *path  *reg_[a-z_]* \{0,4\}/=/ip'; }
set_user_path() {
  if [ -z "$1" ]; then wine reg delete 'HKCU\Environment' /v Path /f >/dev/null 2>&1 || true
  else wine reg add 'HKCU\Environment' /v Path /t REG_EXPAND_SZ /d "${1#=}" /f >/dev/null 2>&1; fi
}
installed_version() {
  w reg query 'HKCU\Software\Microsoft\Installer\Products' /s | awk '$1 == "Version" { print $3 }' | tr '\n' ' '
}

# Windows' own Send To folder is never empty; Wine's is, and a removal would take the empty folder away.
made_sendto=no
[ -d "$sendto" ] || { mkdir -p "$sendto"; made_sendto=yes; }
stand_in="$sendto/Desktop (create shortcut).DeskLink"
touch "$stand_in"
# Whatever happens, the prefix is left as it was found: QUIL removed, the stand-in gone.
clean_up() {
  if [ ! -f "$work/removed" ]; then
    touch "$work/answered"
    [ -z "${held:-}" ] || kill "$held" 2>/dev/null || true
    for package in "$msi" "$work/rebuilt.msi" "$work/newer.msi" "$work/running.msi"; do
      wine msiexec /x "$package" /qn >/dev/null 2>&1 || true
    done
  fi
  set_user_path "$path_before"
  rm -f "$stand_in"
  [ "$made_sendto" = no ] || rmdir "$sendto" 2>/dev/null || true
  rm -rf "$work"
}
path_before="$(user_path)"
trap clean_up EXIT
# Windows Installer's own folders for icons and packages, which Windows has and Wine makes at its first
# installation.
mkdir -p "$WINEPREFIX/drive_c/windows/Installer" "$users/$(whoami)/AppData/Roaming/Microsoft/Installer"
snapshot before
machine_snapshot before

echo "== installer: silent installation of $(basename "$msi")"
wine msiexec /i "$msi" /qn || fail "the installation failed"
finds_quil || fail "a new console does not find quil on the PATH"
verbs="$(w reg query 'HKCU\Software\Classes\SystemFileAssociations' /s)"
echo "$verbs"
for extension in fem sif; do
  for verb in 'Repair with QUIL' 'Check with QUIL'; do
    echo "$verbs" | grep -A1 -F ".$extension\\shell\\QUIL." | grep -qF "$verb" ||
      fail "no verb \"$verb\" for .$extension"
  done
done
[ -f "$sendto/QUIL – repair in place.lnk" ] || fail "no Send To entry"
# Notepad takes a README.txt without a byte-order mark for ANSI, and shows its names wrong; its lines
# end in CR LF.
bom() { [ "$(head -c 3 | od -An -tx1 | tr -d ' ')" = efbbbf ]; }
readme="$users/$(whoami)/AppData/Local/Programs/QUIL/README.txt"
bom < "$readme" || fail "the installed README.txt has no BOM"
bom < <(unzip -p "${msi%.msi}.zip" README.txt) || fail "the ZIP's README.txt has no BOM"
! grep -qv $'\r$' "$readme" || fail "README.txt has lines without CR LF"

echo "== installer: the registry's Repair command on a copy of a model"
cp "$root/tests/data/plate.fem" "$work/model.fem"
chmod u+w "$work/model.fem"
command="$(w reg query 'HKCU\Software\Classes\SystemFileAssociations\.fem\shell\QUIL.Repair\command' /ve |
  sed -n 's/^ *(Default) *REG_SZ *//p')"
model="$(winepath -w "$work/model.fem" 2>/dev/null)"
# As the Explorer runs it: the command line with %1 replaced by the file's name.
printf '@%s\r\n' "${command//%1/$model}" > "$work/verb.bat"
w cmd /c "$(winepath -w "$work/verb.bat" 2>/dev/null)"
cmp "$work/model.fem" "$root/tests/data/plate.repaired.fem" || fail "the verb did not repair the model"
cmp "$work/model.fem.orig" "$root/tests/data/plate.fem" || fail "the verb kept no original"

echo "== installer: Apps and Features' entry, the icons, the shortcut's short name"
property() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' -v p="$2" '$1 == p { print $2 }'; }
# Windows keeps a user's entry in HKCU, Wine in HKLM.
arp() {
  local hive
  for hive in HKCU HKLM; do
    w reg query "$hive\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$(property "$msi" ProductCode)"
  done
}
user_folder="C:\\users\\$(whoami)\\AppData\\Local\\Programs\\QUIL\\"
grep -qxF "    InstallLocation    REG_SZ    $user_folder" <<< "$(arp)" || fail "Apps and Features has no install location"
grep -qxF '    NoModify    REG_DWORD    0x1' <<< "$(arp)" || fail "Apps and Features offers to modify QUIL"
# msiinfo writes the icon's data beside it, in Icon/ of the folder it runs in.
[ "$(property "$msi" ARPPRODUCTICON)" = quil.ico ] &&
  grep -q '^quil.ico' <<< "$(cd "$work" && msiinfo export "$msi" Icon)" || fail "Apps and Features has no icon"
grep -q RT_GROUP_ICON <<< "$(x86_64-w64-mingw32-windres -i "$installed" -O rc)" || fail "quil.exe has no icon"
# ICE03: a long name in the Shortcut table comes after a short one, SHORT~1|long name.
! msiinfo export "$msi" Shortcut | tail -n +4 | cut -f3 | grep -vE '^[^|. ]{1,8}(\.[^|. ]{1,3})?\|' ||
  fail "a shortcut without a short name"

echo "== signatures: quil.exe in the ZIP and in the installer, and the installer"
if [ -n "${QUIL_SIGN_CERT:-}" ]; then
  unzip -p "${msi%.msi}.zip" quil.exe > "$work/zip-quil.exe"
  msiextract -C "$work/extracted" "$msi" >/dev/null
  for signed in "$work/zip-quil.exe" "$work/extracted/QUIL/quil.exe" "$msi"; do
    osslsigncode verify -CAfile "$QUIL_SIGN_CERT" -in "$signed" >/dev/null || fail "$signed: no valid signature"
  done
else
  echo "check-msi: no QUIL_SIGN_CERT: the packages' signatures are not checked"
fi

upgrade_code="$(property "$msi" UpgradeCode)"
# An installer of the files in FILES_DIR: make_msi FILES_DIR VERSION OUTPUT
make_msi() {
  bash "$root/packaging/make-msi.sh" "$1" "$(property "$msi" ProductName)" "$2" "${upgrade_code//[\{\}]/}" "$3"
}
# quil.exe's version and language in the File table, those of its resource (major.minor.0.0, English).
file_version="$(msiinfo export "$msi" File | tr -d '\r' | awk -F'\t' '$1 == "quil.exe" { print $5 " " $6 }')"
[ "$file_version" = "$(cut -d. -f1,2 <<< "$version").0.0 1033" ] || fail "quil.exe's version: '$file_version'"
products() { w reg query 'HKCU\Software\Microsoft\Installer\Products' | grep -c 'Products\\' || true; }

echo "== winget: the manifests as built, and with an address for the installer"
# Every version a quoted string (YAML would read 1.10 as a number), and each kind's required fields.
check_manifests() {
  local manifest kind field
  for manifest in "$1"/*.yaml; do
    ! grep -E '^[ -]*[A-Za-z]*Version:' "$manifest" | grep -vE "Version: '[^']+'$" ||
      fail "$(basename "$manifest"): a version that is not a quoted string"
    kind="$(sed -n 's/^ManifestType: //p' "$manifest")"
    case "$kind" in
      installer) grep -q '^Installers:$' "$manifest" || fail "$(basename "$manifest"): no Installers"
                 set -- Architecture InstallerType InstallerUrl InstallerSha256 ;;
      defaultLocale) set -- PackageLocale Publisher PackageName License ShortDescription ;;
      version) set -- DefaultLocale ;;
      *) fail "$(basename "$manifest"): manifest type '$kind'" ;;
    esac
    for field in PackageIdentifier PackageVersion ManifestType ManifestVersion "$@"; do
      grep -qE "^[ -]*$field: *[^ ]" "$manifest" || fail "$(basename "$manifest"): no $field"
    done
  done
}
if grep -q '^QUIL_INSTALLER_URL:STRING=$' "$root/build/windows/CMakeCache.txt"; then
  ! ls "$root"/build/windows/winget/*.installer.yaml 2>/dev/null || fail "an installer manifest without an address"
fi
check_manifests "$root/build/windows/winget"
make_msi "$root/build/windows" "$version" "$work/rebuilt.msi"
bash "$root/packaging/make-winget.sh" "$work/rebuilt.msi" "$version" "${upgrade_code//[\{\}]/}" "$work/winget" \
  "https://downloads.example/quil.msi"
[ "$(ls "$work"/winget/*.yaml | wc -l)" = 3 ] || fail "not three manifests with an address"
check_manifests "$work/winget"

echo "== installer: a rebuild of the same version over the first build"
[ "$(property "$msi" ProductCode)" != "$(property "$work/rebuilt.msi" ProductCode)" ] || fail "one product code"
wine msiexec /i "$work/rebuilt.msi" /qn || fail "the rebuild's installation failed"
[ "$(products)" = 1 ] || fail "after the rebuild, $(products) products are installed"

echo "== installer: a newer build over the older"
[ "$(installed_version)" = "0x1000000 " ] || fail "installed: $(installed_version)"
make_msi "$root/build/windows" "$version.1" "$work/newer.msi"
wine msiexec /i "$work/newer.msi" /qn || fail "the newer installation failed"
[ "$(installed_version)" = "0x1000001 " ] || fail "after the newer one, installed: $(installed_version)"
[ "$(products)" = 1 ] || fail "after the newer one, $(products) products are installed"
finds_quil || fail "the newer one lost quil from the PATH"

echo "== installer: removal"
wine msiexec /x "$work/newer.msi" /qn || fail "the removal failed"
touch "$work/removed"
snapshot after
diff "$work/before.files" "$work/after.files" || fail "files were left behind"
diff "$work/before.keys" "$work/after.keys" || fail "registry keys were left behind"
w cmd /c 'echo %PATH%' | grep -qi 'QUIL' && fail "the PATH still names QUIL"

echo "== installer: the user's PATH, none, one without a final ';' and one with it"
rm "$work/removed"
steps=(/i "$msi" /i "$work/rebuilt.msi" /i "$work/newer.msi" /x "$work/newer.msi"
       /i "$msi" /i "$work/newer.msi" /x "$work/newer.msi")
for start in '' '=C:\Tools' '=C:\Tools;D:\bin;'; do
  set_user_path "$start"
  for ((i = 0; i < ${#steps[@]}; i += 2)); do
    wine msiexec "${steps[i]}" "${steps[i + 1]}" /qn || fail "msiexec ${steps[i]} $(basename "${steps[i + 1]}") failed"
    # QUIL's folder before the user's entries, or alone; after the removal, the PATH as it was.
    expected="$start"
    [ "${steps[i]}" = /x ] || expected="=$user_folder${start:+;${start#=}}"
    [ "$(user_path)" = "$expected" ] ||
      fail "from PATH '$start', after ${steps[i]} $(basename "${steps[i + 1]}"): '$(user_path)', not '$expected'"
  done
done
set_user_path "$path_before"

echo "== installer: a newer one over a running quil.exe"
wine msiexec /i "$msi" /qn || fail "the installation failed"
# The newer quil.exe: the same, its resource's file version one revision higher (so that it replaces the
# older one), the 13th byte of the resource's fixed part.
mkdir "$work/running" && cp "$installed" "$root/build/windows/README.txt" "$work/running/"
at="$(LC_ALL=C grep -obUaP '\xbd\x04\xef\xfe' "$installed" | head -1 | cut -d: -f1)"
printf '\x01' | dd of="$work/running/quil.exe" bs=1 seek=$((at + 12)) conv=notrunc status=none
make_msi "$work/running" "$version.2" "$work/running.msi"
# The dialogue, waiting for its first answer until its input ends. Only the loop holds the pipe: a
# process that Wine starts meanwhile must not keep it open.
(until [ -e "$work/answered" ]; do sleep 0.1; done) | wine "$installed" > "$work/dialogue" 2>&1 &
held=$!
for ((i = 0; i < 100; i++)); do grep -q 'Give' "$work/dialogue" && break; sleep 0.1; done
status=0
wine msiexec /i "$work/running.msi" /qn || status=$?
# Wine's exit status keeps the low 8 bits of 3010 (ERROR_SUCCESS_REBOOT_REQUIRED): 194.
[ "$status" = 194 ] || fail "over a running quil.exe, msiexec ended with $status, not 3010"
! cmp -s "$installed" "$work/running/quil.exe" || fail "the running quil.exe was replaced"
grep -qF 'Programs\QUIL\quil.exe' <<< "$(w reg query 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager' \
  /v PendingFileRenameOperations)" || fail "no replacement of quil.exe at the next restart"
touch "$work/answered"
for ((i = 0; i < 100; i++)); do kill -0 "$held" 2>/dev/null || break; sleep 0.1; done
! kill -0 "$held" 2>/dev/null || fail "the dialogue did not end with its input"
held=
wine wineboot -r  # Wine's restart: the replacements are made
cmp -s "$installed" "$work/running/quil.exe" || fail "after the restart, the newer quil.exe is not in place"
wine msiexec /x "$work/running.msi" /qn || fail "the removal failed"

echo "== installer: for the machine (ALLUSERS=1), and its removal"
wine msiexec /i "$msi" ALLUSERS=1 /qn || fail "the installation for the machine failed"
folder='C:\Program Files\QUIL\'
[ -f "$WINEPREFIX/drive_c/Program Files/QUIL/quil.exe" ] || fail "no quil.exe in Program Files\\QUIL"
[ ! -e "$installed" ] && [ ! -f "$sendto/QUIL – repair in place.lnk" ] || fail "installed in the user's folders"
grep -qF "REG_EXPAND_SZ    $folder;" <<< "$(w reg query "$machine_env" /v Path)" || fail "not first on the machine's PATH"
grep -qF "\"${folder}quil.exe\" -i --" <<< "$(w reg query \
  'HKLM\Software\Classes\SystemFileAssociations\.fem\shell\QUIL.Repair\command' /ve)" || fail "no verb under HKLM"
! wine reg query 'HKCU\Software\QUIL' >/dev/null 2>&1 || fail "QUIL's keys in HKCU"
finds_quil || fail "a new console does not find quil on the machine's PATH"
grep -qxF "    InstallLocation    REG_SZ    $folder" <<< "$(arp)" || fail "Apps and Features has not Program Files\\QUIL"
wine msiexec /x "$msi" /qn || fail "the removal for the machine failed"
touch "$work/removed"
machine_snapshot after
diff "$work/before.machine-files" "$work/after.machine-files" || fail "files were left in Program Files"
diff "$work/before.machine-keys" "$work/after.machine-keys" || fail "keys were left in HKLM"
snapshot after
diff "$work/before.files" "$work/after.files" && diff "$work/before.keys" "$work/after.keys" ||
  fail "the user's files or keys differ after all"

echo "installer: installed, used, upgraded and removed without a trace, for the user and for the machine"
