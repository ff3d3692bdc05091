#!/usr/bin/env bash
# Writes winget's three manifests for an installer, with its SHA-256 and product code filled in; without
# INSTALLER_URL, the installer manifest is left out.
#   packaging/make-winget.sh INSTALLER.msi VERSION UPGRADE_CODE WINGET_DIR [INSTALLER_URL]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
msi="$1" version="$2" upgrade_code="$3" winget="$4" url="${5:-}"
mkdir -p "$winget"
sha256="$(sha256sum "$msi" | cut -d' ' -f1 | tr a-f A-F)"
product_code="$(msiinfo export "$msi" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { print $2 }')"
for template in "$here"/winget/*.yaml.in; do
  # An installer manifest is only worth its name with the address the MSI is published at.
  manifest="$winget/$(basename "${template%.in}")"
  if [ -z "$url" ] && [ "${template%.installer.yaml.in}" != "$template" ]; then rm -f "$manifest"; continue; fi
  sed -e "s|@VERSION@|$version|g" -e "s|@SHA256@|$sha256|g" -e "s|@PRODUCT_CODE@|$product_code|g" \
      -e "s|@UPGRADE_CODE@|{$upgrade_code}|g" -e "s|@INSTALLER_URL@|$url|g" \
      "$template" > "$manifest"
done
