#!/usr/bin/env bash
# Builds the Windows installer from quil.wxs (make-winget.sh describes it for winget).
#   packaging/make-msi.sh FILES_DIR NAME VERSION UPGRADE_CODE OUTPUT.msi
# FILES_DIR holds quil.exe and README.txt.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
files="$1" name="$2" version="$3" upgrade_code="$4" output="$5"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# wixl takes the files by names relative to where it runs; the icon of Apps and Features is drawn here.
bash "$here/make-icon.sh" "$work/quil.ico"
(cd "$files" && wixl -a x64 -D ProductName="$name" -D Version="$version" -D UpgradeCode="$upgrade_code" \
   -D Icon="$(realpath --relative-to=. "$work/quil.ico")" -o "$work/quil.msi" "$here/quil.wxs")
# wixl has no Environment element: the PATH entry is a row of the Environment table, which the standard
# actions write at installation and take away at removal ("-"). "=" sets the user's PATH, "=*" the
# machine's; an entry that is there already is not added twice. QUIL's folder goes before the PATH's
# entries ("[INSTALLDIR];[~]"), its separator going with it at the removal (Wine's removal of an entry put
# after them, "[~];[INSTALLDIR]", leaves the separator behind); a PATH that is not there is made of the
# folder alone ("[~];[INSTALLDIR]", which adds no separator to nothing), and is gone again after the
# removal. The components that hold the rows say which one applies.
sql() { msibuild "$work/quil.msi" -q "$1"; }
sql 'CREATE TABLE `Environment` (`Environment` CHAR(72) NOT NULL, `Name` CHAR(255) NOT NULL LOCALIZABLE,
     `Value` CHAR(255) LOCALIZABLE, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Environment`)'
environment() {
  sql "INSERT INTO \`Environment\` (\`Environment\`, \`Name\`, \`Value\`, \`Component_\`)
       VALUES ('$1', '$2', '$3', '$1')"
}
environment PathAlone '=-PATH' '[~];[INSTALLDIR]'
environment PathBefore '=-PATH' '[INSTALLDIR];[~]'
environment MachinePathAlone '=-*PATH' '[~];[INSTALLDIR]'
environment MachinePathBefore '=-*PATH' '[INSTALLDIR];[~]'
# wixl writes no component conditions. ALLUSERS (1 from msiexec's command line) makes the installation
# the machine's: its PATH, and no folder or Send To entry of the user's own.
condition() { sql "UPDATE \`Component\` SET \`Condition\` = '$2' WHERE \`Component\` = '$1'"; }
condition PathAlone 'NOT ALLUSERS AND (NOT USERPATH OR USERPATH = QUILFOLDER)'
condition PathBefore 'NOT ALLUSERS AND USERPATH AND USERPATH <> QUILFOLDER'
condition MachinePathAlone 'ALLUSERS AND (NOT MACHINEPATH OR MACHINEPATH = QUILMACHINEFOLDER)'
condition MachinePathBefore 'ALLUSERS AND MACHINEPATH AND MACHINEPATH <> QUILMACHINEFOLDER'
condition ProgramsFolder 'NOT ALLUSERS'
condition SendTo 'NOT ALLUSERS'
# wixl writes HKMU as 4, which no installer knows: it is -1 (HKCU for a user, HKLM for the machine).
sql "UPDATE \`Registry\` SET \`Root\` = -1 WHERE \`Root\` = 4"
# wixl gives its property-setting actions a flag that only deferred actions take (ICE68), and puts the one
# "after CostFinalize" after InstallFinalize, where Apps and Features' entry is written already.
sql "UPDATE \`CustomAction\` SET \`Type\` = 51"
sql "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = 1001 WHERE \`Action\` = 'SetInstallLocation'"
# A long name in the Shortcut table needs its short one before it (ICE03).
sql "UPDATE \`Shortcut\` SET \`Name\` = 'QUILRE~1|QUIL – repair in place' WHERE \`Shortcut\` = 'SendToShortcut'"
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
sql "UPDATE \`File\` SET \`Version\` = '$major.$minor.$build.$revision', \`Language\` = '1033' WHERE \`File\` = 'quil.exe'"
mv "$work/quil.msi" "$output"

