#!/usr/bin/env bash
# The user's language against the fingerprint, on a real Mac: sets the
# runner user's AppleLanguages preference (which system_profiler's labels
# follow; LANG does not) to German, then Japanese, runs the probe under each,
# compares its fingerprint with the English one, prints the line of each
# localized report that holds the serial number, and restores the setting.
#
# It changes the user's global preferences, so it runs only on a CI virtual
# machine (CI=true and GITHUB_ACTIONS=true), never on a developer's Mac.
# Written for macOS's /bin/bash 3.2.
#
# Usage: scripts/mac-language-check.sh [PROBE]
#        (default: build-macos-universal/bin/grellanprobe)
set -euo pipefail

if [ "${CI:-}" != "true" ] || [ "${GITHUB_ACTIONS:-}" != "true" ]; then
  echo "mac-language-check: it changes the user's language, so it runs only in CI" \
       "(CI=true and GITHUB_ACTIONS=true)" >&2
  exit 2
fi
if [ "$(uname)" != "Darwin" ]; then
  echo "mac-language-check: needs macOS" >&2
  exit 2
fi

probe="${1:-build-macos-universal/bin/grellanprobe}"

# defaults prints the array as an old-style property list, which
# defaults write reads back.
saved="$(defaults read -g AppleLanguages 2>/dev/null || true)"
# shellcheck disable=SC2317  # called by the trap
restore() {
  if [ -n "$saved" ]; then
    defaults write -g AppleLanguages "$saved"
  else
    defaults delete -g AppleLanguages 2>/dev/null || true
  fi
}
trap restore EXIT

english="$("$probe")"
echo "as set ($(printf '%s' "$saved" | tr -s ' \n' ' ')): $english"
if ! [[ "$english" =~ ^[0-9a-f]{32}$ ]]; then
  echo "mac-language-check: no fingerprint to compare with" >&2
  exit 1
fi

serial="$(ioreg -c IOPlatformExpertDevice -d 2 |
          awk -F'"' '/"IOPlatformSerialNumber"/ { print $4; exit }')"

status=0
for language in de ja; do
  defaults write -g AppleLanguages -array "$language"
  line="$(system_profiler SPHardwareDataType | grep -F -- "$serial" | head -n 1 || true)"
  echo "$language report: ${line#"${line%%[![:space:]]*}"}"
  fingerprint="$("$probe" || true)"
  if [ "$fingerprint" = "$english" ]; then
    echo "$language: $fingerprint, the same fingerprint"
  else
    echo "mac-language-check: $language gives '$fingerprint', not $english" >&2
    status=1
  fi
done
exit "$status"
