# Shared by the scripts: what the build needs and where it goes.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_packages=(cmake make g++ qt6-base-dev qt6-serialport-dev libgl-dev fonts-dejavu-core desktop-file-utils appstream dpkg-dev file)
# The demo and the gui tests drive the real window on a virtual X server and
# find its controls through the accessibility tree, on a private D-Bus session.
build_packages+=(xvfb xauth xdotool x11-utils imagemagick)
build_packages+=(dbus-daemon dbus-bin dbus-session-bus-common at-spi2-core python3-pyatspi)
# ./scripts/package: Debian's package build and debian/control's Build-Depends.
package_packages=(build-essential debhelper cmake qt6-base-dev qt6-serialport-dev libgl-dev)
# The packaging tests build the packages, then check them as a distribution would.
build_packages+=("${package_packages[@]}" lintian appstream-compose man-db)
