# Sourced by .ci/run and the steps: installs the Debian packages a script
# needs and the machine lacks, with one apt-get run.
#
#   need PROBE:PACKAGE ...   PACKAGE is missing when PROBE, a command or an
#                            absolute path, is not there
#   missing+=(PACKAGE)       for a check of the script's own
#   install_missing          installs what was found missing, if anything

missing=()

need() {
  local entry probe package
  for entry in "$@"; do
    probe=${entry%%:*} package=${entry#*:}
    if [[ $probe == /* ]]; then
      [[ -e $probe ]] || missing+=("$package")
    else
      command -v "$probe" >/dev/null 2>&1 || missing+=("$package")
    fi
  done
}

install_missing() {
  ((${#missing[@]})) || return 0
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
