# Shared by the scripts: what the build needs and where it goes.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_packages=(cmake make g++ qt6-base-dev qt6-serialport-dev libgl-dev fonts-dejavu-core desktop-file-utils appstream dpkg-dev file)
# queltor-web, on Qt HttpServer (whose CMake package needs Qt WebSockets'). Its
# tests call it with curl, make certificates with openssl and drive the page in
# headless Chromium through chromium-driver and Selenium.
build_packages+=(qt6-httpserver-dev qt6-websockets-dev curl openssl chromium chromium-driver python3-selenium)
# The translations: lupdate and lrelease, and their CMake package.
build_packages+=(qt6-tools-dev qt6-l10n-tools)
# The demo and the gui tests drive the real window on a virtual X server and
# find its controls through the accessibility tree, on a private D-Bus session.
build_packages+=(xvfb xauth xdotool x11-utils imagemagick)
build_packages+=(dbus-daemon dbus-bin dbus-session-bus-common at-spi2-core python3-pyatspi)
# ./scripts/package: Debian's package build and debian/control's Build-Depends.
package_packages=(build-essential debhelper cmake qt6-base-dev qt6-serialport-dev qt6-tools-dev qt6-l10n-tools libgl-dev
  qt6-httpserver-dev qt6-websockets-dev)
# The packaging tests build the packages, then check them as a distribution would.
build_packages+=("${package_packages[@]}" lintian appstream-compose man-db)
# The panel in Korean, in the tests and the screenshots: Hangul glyphs and the locale.
build_packages+=(fonts-nanum locales)
# The screenshots give the panel a desktop's font and palette as a user's would.
screenshot_packages=(qt6ct)

# ensure_locale NAME: generates a locale such as ko_KR.UTF-8 unless the system has it.
ensure_locale() {
  local name=$1 sudo=()
  locale -a 2>/dev/null | grep -qix "${name%%.*}.utf8" && return 0
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" localedef -i "${name%%.*}" -c -f UTF-8 -A /usr/share/locale/locale.alias "$name"
}
