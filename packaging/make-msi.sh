#!/usr/bin/env bash
# Builds the Windows installer from quil.wxs, and the winget manifests that describe it.
#   packaging/make-msi.sh FILES_DIR NAME VERSION UPGRADE_CODE OUTPUT.msi [WINGET_DIR INSTALLER_URL]
# FILES_DIR holds quil.exe and README.txt. With WINGET_DIR, the three manifests are written there with
# the installer's SHA-256 and product code filled in; without INSTALLER_URL, the installer's is left out.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
files="$1" name="$2" version="$3" upgrade_code="$4" output="$5" winget="${6:-}" url="${7:-}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# wixl takes the files by names relative to where it runs.
(cd "$files" && wixl -a x64 -D ProductName="$name" -D Version="$version" -D UpgradeCode="$upgrade_code" -o "$work/quil.msi" "$here/quil.wxs")
# wixl has no Environment element: the PATH entry is a row of the Environment table, which the standard
# actions write at installation and take away at removal ("-"). "=" sets the user's PATH; an entry that is
# there already is not added twice. QUIL's folder goes before the user's entries ("[INSTALLDIR];[~]"),
# whose separator the removal takes with it; a PATH that is not there is made of the folder alone
# ("[~];[INSTALLDIR]", which adds no separator to nothing), and is gone again after the removal. The
# components that hold the two rows say which one applies (quil.wxs).
sql() { msibuild "$work/quil.msi" -q "$1"; }
sql 'CREATE TABLE `Environment` (`Environment` CHAR(72) NOT NULL, `Name` CHAR(255) NOT NULL LOCALIZABLE,
     `Value` CHAR(255) LOCALIZABLE, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Environment`)'
sql "INSERT INTO \`Environment\` (\`Environment\`, \`Name\`, \`Value\`, \`Component_\`)
     VALUES ('UserPathAlone', '=-PATH', '[~];[INSTALLDIR]', 'PathAlone')"
sql "INSERT INTO \`Environment\` (\`Environment\`, \`Name\`, \`Value\`, \`Component_\`)
     VALUES ('UserPathBefore', '=-PATH', '[INSTALLDIR];[~]', 'PathBefore')"
# wixl writes no component conditions: the row is written again with its condition.
condition() {
  local id directory attributes keypath
  IFS='|' read -r id directory attributes keypath < <(msiinfo export "$work/quil.msi" Component | tr -d '\r' |
    awk -F'\t' -v c="$1" '$1 == c { print $2 "|" $3 "|" $4 "|" $6 }')
  sql "DELETE FROM \`Component\` WHERE \`Component\` = '$1'"
  sql "INSERT INTO \`Component\` (\`Component\`, \`ComponentId\`, \`Directory_\`, \`Attributes\`, \`Condition\`, \`KeyPath\`)
       VALUES ('$1', '$id', '$directory', $attributes, '$2', '$keypath')"
}
condition PathAlone 'NOT USERPATH OR USERPATH = QUILFOLDER'
condition PathBefore 'USERPATH AND USERPATH <> QUILFOLDER'
sql "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('RemoveEnvironmentStrings', 3300)"
sql "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('WriteEnvironmentStrings', 5200)"
# wixl knows no AllowSameVersionUpgrades: the row that finds older QUILs takes its own version in too, so
# that a rebuild of one version (a new product code) replaces the installed one instead of sitting beside it.
sql "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'WIX_UPGRADE_DETECTED'"
sql "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`)
     VALUES ('{$upgrade_code}', '$version', 513, 'WIX_UPGRADE_DETECTED')"
# wixl leaves the File table's Version empty, and an installer then weighs quil.exe by its date alone.
# The version is that of quil.exe's own resource: its fixed part follows the signature 0xFEEF04BD.
signature="$(LC_ALL=C grep -obUaP '\xbd\x04\xef\xfe' "$files/quil.exe" | head -1 | cut -d: -f1)"
[ -n "$signature" ] || { echo "make-msi: quil.exe has no version resource" >&2; exit 1; }
read -r minor major revision build < <(od -An -tu2 -j $((signature + 8)) -N 8 "$files/quil.exe")
IFS='|' read -r component file_name size attributes sequence < <(msiinfo export "$work/quil.msi" File | tr -d '\r' |
  awk -F'\t' '$1 == "quil.exe" { print $2 "|" $3 "|" $4 "|" $7 "|" $8 }')
sql "DELETE FROM \`File\` WHERE \`File\` = 'quil.exe'"
sql "INSERT INTO \`File\` (\`File\`, \`Component_\`, \`FileName\`, \`FileSize\`, \`Version\`, \`Language\`,
     \`Attributes\`, \`Sequence\`) VALUES ('quil.exe', '$component', '$file_name', $size,
     '$major.$minor.$build.$revision', '1033', $attributes, $sequence)"
mv "$work/quil.msi" "$output"

if [ -n "$winget" ]; then
  mkdir -p "$winget"
  sha256="$(sha256sum "$output" | cut -d' ' -f1 | tr a-f A-F)"
  product_code="$(msiinfo export "$output" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { print $2 }')"
  for template in "$here"/winget/*.yaml.in; do
    # An installer manifest is only worth its name with the address the MSI is published at.
    manifest="$winget/$(basename "${template%.in}")"
    if [ -z "$url" ] && [ "${template%.installer.yaml.in}" != "$template" ]; then rm -f "$manifest"; continue; fi
    sed -e "s|@VERSION@|$version|g" -e "s|@SHA256@|$sha256|g" -e "s|@PRODUCT_CODE@|$product_code|g" \
        -e "s|@UPGRADE_CODE@|{$upgrade_code}|g" -e "s|@INSTALLER_URL@|$url|g" \
        "$template" > "$manifest"
  done
fi
