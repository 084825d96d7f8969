# Shared by the scripts: what the build needs and where it goes.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# What the build and the tests need is debian/control's Build-Depends, which
# scripts/setup-deps installs; these are what some scripts need on top.
# The screenshots give the panel a desktop's font and palette as a user's would.
screenshot_packages=(qt6ct)

# ensure_locale NAME: generates a locale such as ko_KR.UTF-8 unless the system has it.
ensure_locale() {
  local name=$1 sudo=()
  locale -a 2>/dev/null | grep -qix "${name%%.*}.utf8" && return 0
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" localedef -i "${name%%.*}" -c -f UTF-8 -A /usr/share/locale/locale.alias "$name"
}
