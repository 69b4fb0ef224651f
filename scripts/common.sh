# Shared by scripts/run and scripts/test: install what is missing, build.
# Sourced, not run.

TOP=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

BUILD_PACKAGES=(build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev
  libftdi1-dev libusb-1.0-0-dev libxcb1-dev
  fonts-dejavu-core fonts-wine fonts-liberation2
  librsvg2-bin python3)

# Building the Debian packages from debian/ (Build-Depends there is in
# BUILD_PACKAGES) and checking them.
PACKAGE_PACKAGES=(dpkg-dev debhelper fakeroot file lintian)

# copy_source DIR: the project's files into DIR, without build folders or
# what git ignores; the package is built from such a copy.
copy_source() {
  local dest=$1
  mkdir -p "$dest"
  if [ -e "$TOP/.git" ] && command -v git >/dev/null; then
    (cd "$TOP" && git ls-files -z --cached --others --exclude-standard --deduplicate |
      while IFS= read -r -d '' f; do
        [ -e "$f" ] && printf '%s\0' "$f"
      done | xargs -0 -r cp -a --parents -t "$dest")
  else
    (cd "$TOP" && tar -c --exclude='./.git' --exclude='./build' --exclude='./build-*' --exclude='__pycache__' . ) |
      (cd "$dest" && tar -x)
  fi
}

# Install the Debian packages among "$@" that are not installed yet.
ensure_packages() {
  local missing=() p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Missing packages (${missing[*]}) and no sudo to install them." >&2; return 1; }
    sudo=(sudo)
  fi
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q >/dev/null
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# Our users run the program in German: tests run under de_DE.UTF-8 too.
ensure_german_locale() {
  # libc-l10n: the C library's own texts (strerror, the loader's) in German.
  ensure_packages locales libc-l10n
  if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    "${sudo[@]}" locale-gen >/dev/null
  fi
  export LANG=de_DE.UTF-8 LC_ALL=de_DE.UTF-8 LANGUAGE=de_DE:de
}

# configure DIR BUILD_TYPE [cmake options...]: once; later builds reuse the
# cache. An option given as -DNAME=VALUE that the cache holds with another
# value (a build folder first configured by scripts/run without the tests,
# then used by scripts/test) configures the folder again with it.
configure() {
  local dir=$1 type=$2
  shift 2
  if [ -f "$dir/build.ninja" ]; then
    local option name value stale=()
    for option in "$@"; do
      case $option in
        -D*=*)
          name=${option#-D}; value=${name#*=}; name=${name%%=*}; name=${name%%:*}
          [ "$(sed -n "s/^$name:[A-Z]*=//p" "$dir/CMakeCache.txt")" = "$value" ] || stale+=("$option")
          ;;
      esac
    done
    [ ${#stale[@]} -eq 0 ] && return 0
    cmake "$dir" "${stale[@]}"
    return
  fi
  cmake -S "$TOP" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" "$@"
}

# configure_fresh DIR BUILD_TYPE [cmake options...]: the options apply only
# when DIR is configured for the first time; an existing configuration is
# kept as it is.
configure_fresh() {
  [ -f "$1/build.ninja" ] && return 0
  configure "$@"
}
