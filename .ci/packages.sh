# Sourced by .ci/run and the steps: installs the Debian packages a script
# needs and the machine lacks, with one apt-get run, and leaves every service
# as it was found.
#
#   need PROBE:PACKAGE ...   PACKAGE is missing when PROBE, a command or an
#                            absolute path, is not there
#   missing+=(PACKAGE)       for a check of the script's own
#   install_missing          installs what was found missing, if anything
#
# A package may enable and start a service of its own when it is installed
# (parallel depends on sysstat, openssh-server brings sshd). While apt-get
# runs, /usr/sbin/policy-rc.d tells every package that it may start none;
# afterwards every unit enabled by the installation is disabled again (and
# stopped), and the step fails when one is still enabled or running.

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

# The units enabled at boot, one a line, sorted: the unit files systemctl
# lists as enabled (it reads them without a running systemd too), or, without
# systemctl, the units linked into /etc/systemd/system/*.wants; then the
# SysV init scripts started in some runlevel, as sysv:NAME.
enabled_units() {
  {
    if command -v systemctl >/dev/null 2>&1; then
      systemctl list-unit-files --state=enabled --no-legend --no-pager | awk '{print $1}'
    else
      find /etc/systemd/system -path '*.wants/*' -printf '%f\n' 2>/dev/null
    fi
    find /etc/rc[0-6S].d -name 'S[0-9][0-9]*' -printf 'sysv:%f\n' 2>/dev/null |
      sed 's/^sysv:S[0-9][0-9]/sysv:/'
  } | sort -u
}

# The services running now, one a line, sorted; none where systemd does not
# run (there policy-rc.d alone keeps services from starting).
running_services() {
  [[ -d /run/systemd/system ]] || return 0
  systemctl list-units --type=service --state=running --no-legend --plain --no-pager |
    awk '{print $1}' | sort -u
}

# Disables (and stops) one unit that the installation enabled.
disable_unit() {
  local unit=$1
  if [[ $unit == sysv:* ]]; then
    update-rc.d "${unit#sysv:}" disable >/dev/null 2>&1 || true
    invoke-rc.d --force "${unit#sysv:}" stop >/dev/null 2>&1 || true
  elif [[ -d /run/systemd/system ]]; then
    systemctl disable --now "$unit" >/dev/null 2>&1 || true
  elif command -v systemctl >/dev/null 2>&1; then
    systemctl disable "$unit" >/dev/null 2>&1 || true
  else
    rm -f /etc/systemd/system/*.wants/"$unit"
  fi
}

# Puts the units and services back as they were before the installation
# (`before_units`, `before_running`: the lists taken then); fails when a unit
# stays enabled or a service stays running.
restore_services() {
  local before_units=$1 before_running=$2 unit new
  echo "-- units enabled before the installation: $(wc -w <<<"$before_units")"
  new=$(comm -13 <(echo "$before_units") <(enabled_units))
  for unit in $new; do
    echo "-- $unit was enabled by the installation: disabled again"
    disable_unit "$unit"
  done
  for unit in $(comm -13 <(echo "$before_running") <(running_services)); do
    echo "-- $unit was started by the installation: stopped"
    systemctl stop "$unit" >/dev/null 2>&1 || true
  done
  new=$(comm -13 <(echo "$before_units") <(enabled_units) && comm -13 <(echo "$before_running") <(running_services))
  if [[ -n $new ]]; then
    echo "packages: the installation left enabled or running: $new" >&2
    return 1
  fi
  echo "-- units enabled after it: $(enabled_units | wc -l), none that was not before"
}

install_missing() {
  ((${#missing[@]})) || return 0
  export DEBIAN_FRONTEND=noninteractive
  local before_units before_running policy=/usr/sbin/policy-rc.d own_policy="" status=0
  before_units=$(enabled_units)
  before_running=$(running_services)
  if [[ ! -e $policy ]]; then
    # invoke-rc.d and deb-systemd-invoke ask this script whether a package may
    # start its service: 101 says no.
    printf '#!/bin/sh\nexit 101\n' >"$policy"
    chmod 755 "$policy"
    own_policy=yes
  fi
  apt-get update -qq || status=$?
  ((status)) || apt-get install -y -qq --no-install-recommends "${missing[@]}" || status=$?
  [[ -z $own_policy ]] || rm -f "$policy"
  ((status == 0)) || return "$status"
  restore_services "$before_units" "$before_running"
}
