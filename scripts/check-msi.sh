#!/usr/bin/env bash
# The Windows installer under Wine, in the project's own prefix: installed silently, quil found by a new
# console through the PATH, the two verbs in the registry and the Send To entry in place, the registry's
# own "Repair with QUIL" command repairing a copy of a model in place, a rebuild of the same version and
# a newer build each replacing the installed one (one product at a time), and a removal that leaves no
# file, no key and no PATH entry behind; then the user's PATH (none, one ending in ';', one not) through
# installations, upgrades and removals: QUIL's folder once and no empty entry, and the PATH given back.
# Besides, winget's manifests: every version a quoted string, the fields each kind needs, and no
# installer manifest without the address the MSI is published at; README.txt with a byte-order mark, and
# quil.exe's version in the installer's File table.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export WINEPREFIX="$root/build/windows/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
msi="$(ls "$root"/build/windows/quil-*-windows-x64.msi)"
version="$(basename "$msi" | cut -d- -f2)"
work="$root/build/windows/msi-check"
users="$WINEPREFIX/drive_c/users"
sendto="$users/$(whoami)/AppData/Roaming/Microsoft/Windows/SendTo"
rm -rf "$work" && mkdir -p "$work"

fail() { echo "check-msi: $*" >&2; exit 1; }
w() { wine "$@" 2>/dev/null | tr -d '\r'; }
# Every file and folder of the users, and HKCU as text. The installer service's own bookkeeping keys,
# left empty once nothing is installed (Windows has them already), are not QUIL's.
snapshot() {
  (cd "$users" && find . | sort) > "$work/$1.files"
  wine reg export HKCU "$work/$1.reg" /y >/dev/null 2>&1
  iconv -f UTF-16 -t UTF-8 "$work/$1.reg" | tr -d '\r' | grep -v '^$' |
    grep -vx '\[HKEY_CURRENT_USER\\Software\\Microsoft\\Installer\(\\Features\|\\Products\|\\UpgradeCodes\)\?\]' \
      > "$work/$1.keys"
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
    for package in "$msi" "$work/rebuilt.msi" "$work/newer.msi"; do wine msiexec /x "$package" /qn >/dev/null 2>&1 || true; done
  fi
  set_user_path "$path_before"
  rm -f "$stand_in"
  [ "$made_sendto" = no ] || rmdir "$sendto" 2>/dev/null || true
  rm -rf "$work"
}
path_before="$(user_path)"
trap clean_up EXIT
snapshot before

echo "== installer: silent installation of $(basename "$msi")"
wine msiexec /i "$msi" /qn || fail "the installation failed"
[ "$(w cmd /c quil --version)" = "quil $version" ] || fail "a new console does not find quil on the PATH"
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

property() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' -v p="$2" '$1 == p { print $2 }'; }
upgrade_code="$(property "$msi" UpgradeCode)"
make_msi() {
  bash "$root/packaging/make-msi.sh" "$root/build/windows" "$(property "$msi" ProductName)" "$1" \
    "${upgrade_code//[\{\}]/}" "${@:2}"
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
make_msi "$version" "$work/rebuilt.msi" "$work/winget" "https://downloads.example/quil.msi"
[ "$(ls "$work"/winget/*.yaml | wc -l)" = 3 ] || fail "not three manifests with an address"
check_manifests "$work/winget"

echo "== installer: a rebuild of the same version over the first build"
[ "$(property "$msi" ProductCode)" != "$(property "$work/rebuilt.msi" ProductCode)" ] || fail "one product code"
wine msiexec /i "$work/rebuilt.msi" /qn || fail "the rebuild's installation failed"
[ "$(products)" = 1 ] || fail "after the rebuild, $(products) products are installed"

echo "== installer: a newer build over the older"
[ "$(installed_version)" = "0x1000000 " ] || fail "installed: $(installed_version)"
make_msi "$version.1" "$work/newer.msi"
wine msiexec /i "$work/newer.msi" /qn || fail "the newer installation failed"
[ "$(installed_version)" = "0x1000001 " ] || fail "after the newer one, installed: $(installed_version)"
[ "$(products)" = 1 ] || fail "after the newer one, $(products) products are installed"
[ "$(w cmd /c quil --version)" = "quil $version" ] || fail "the newer one lost quil from the PATH"

echo "== installer: removal"
wine msiexec /x "$work/newer.msi" /qn || fail "the removal failed"
touch "$work/removed"
snapshot after
diff "$work/before.files" "$work/after.files" || fail "files were left behind"
diff "$work/before.keys" "$work/after.keys" || fail "registry keys were left behind"
w cmd /c 'echo %PATH%' | grep -qi 'QUIL' && fail "the PATH still names QUIL"

echo "== installer: the user's PATH, none, one without a final ';' and one with it"
rm "$work/removed"
folder="C:\\users\\$(whoami)\\AppData\\Local\\Programs\\QUIL\\"
steps=(/i "$msi" /i "$work/rebuilt.msi" /i "$work/newer.msi" /x "$work/newer.msi"
       /i "$msi" /i "$work/newer.msi" /x "$work/newer.msi")
for start in '' '=C:\Tools' '=C:\Tools;D:\bin;'; do
  set_user_path "$start"
  for ((i = 0; i < ${#steps[@]}; i += 2)); do
    wine msiexec "${steps[i]}" "${steps[i + 1]}" /qn || fail "msiexec ${steps[i]} $(basename "${steps[i + 1]}") failed"
    # QUIL's folder before the user's entries, or alone; after the removal, the PATH as it was.
    expected="$start"
    [ "${steps[i]}" = /x ] || expected="=$folder${start:+;${start#=}}"
    [ "$(user_path)" = "$expected" ] ||
      fail "from PATH '$start', after ${steps[i]} $(basename "${steps[i + 1]}"): '$(user_path)', not '$expected'"
  done
done
set_user_path "$path_before"
touch "$work/removed"

echo "installer: installed, used, upgraded and removed without a trace"
