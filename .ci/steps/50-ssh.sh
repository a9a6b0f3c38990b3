#!/usr/bin/env bash
# The multi-machine recipes of docs/scaling.md, run for real: an OpenSSH
# server of its own on 127.0.0.1 (a spare port, its own host key and
# configuration, key-based login only) and a test user with no password.
# Two ssh logins to that one host stand for two machines. GNU parallel runs
# both --sshlogin recipes against them, and the results must be byte for
# byte those of single local runs.
#
# Only the loopback address is used. Everything the step makes (the server,
# the user, the files) is removed on exit, and every wait is bounded.
#
# The machine's own SSH service is never used. When the step installs
# openssh-server, the package's service is kept from starting while it is
# installed, and is left disabled and stopped afterwards, as it was before
# (.ci/packages.sh does this for every package): the package stays
# installed, with no service enabled at boot.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/packages.sh

need \
  /usr/sbin/sshd:openssh-server \
  ssh:openssh-client \
  ssh-keygen:openssh-client \
  parallel:parallel \
  rsync:rsync \
  perl:perl \
  python3:python3 \
  useradd:passwd
install_missing

fail() {
  echo "50-ssh: $*" >&2
  [[ -s ${work:-}/sshd.log ]] && tail -n 20 "$work/sshd.log" >&2
  exit 1
}

binary=build/release/tabulon
if [[ ! -x $binary ]]; then
  cmake --workflow --preset program >/dev/null
  binary=build/program/tabulon
fi
binary=$(realpath "$binary")

user=tabulonssh
work=""
home=""
sshd_pid=""
made_run_dir=""
cleanup() {
  [[ -z $sshd_pid ]] || kill "$sshd_pid" 2>/dev/null || true
  [[ -z $sshd_pid ]] || wait "$sshd_pid" 2>/dev/null || true
  if id "$user" >/dev/null 2>&1; then userdel -f "$user" 2>/dev/null || true; fi
  [[ -z $home ]] || rm -rf "$home"
  [[ -z $work ]] || rm -rf "$work"
  [[ -z $made_run_dir ]] || rmdir /run/sshd 2>/dev/null || true
}
trap cleanup EXIT

# No '-' in these paths: the program ignores names that hold one.
work=$(mktemp -d /tmp/tabulonssh.XXXXXX)
home=$(mktemp -d /tmp/tabulonsshhome.XXXXXX)

echo "-- a test user with no password and a key of its own"
if id "$user" >/dev/null 2>&1; then userdel -f "$user"; fi
useradd --home-dir "$home" --no-create-home --shell /bin/sh "$user"
usermod -p '*' "$user"  # no password can match, yet the account is not locked
mkdir -p "$home/.ssh" "$home/bin"
ssh-keygen -q -t ed25519 -N '' -C "$user" -f "$work/id_user"
cp "$work/id_user.pub" "$home/.ssh/authorized_keys"
# The program "installed" on both machines: in the user's own bin directory.
cp "$binary" "$home/bin/tabulon"
chown -R "$user:" "$home"
chmod 755 "$home"
chmod 700 "$home/.ssh"
chmod 600 "$home/.ssh/authorized_keys"

echo "-- an OpenSSH server on 127.0.0.1 only"
ssh-keygen -q -t ed25519 -N '' -f "$work/host_key"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$work/sshd_config" <<EOF
ListenAddress 127.0.0.1
Port $port
HostKey $work/host_key
PidFile none
AllowUsers $user
AuthenticationMethods publickey
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin no
UsePAM no
StrictModes yes
X11Forwarding no
AllowTcpForwarding no
SetEnv PATH=$home/bin:/usr/bin:/bin
MaxStartups 100
MaxSessions 100
LogLevel VERBOSE
EOF
if [[ ! -d /run/sshd ]]; then
  mkdir -p /run/sshd  # the server's privilege separation directory
  made_run_dir=yes
fi
/usr/sbin/sshd -t -f "$work/sshd_config" || fail "sshd rejects its configuration"
# In the foreground as this step's child, so that it is stopped by pid; the
# timeout ends it even if the clean-up never runs.
timeout 900 /usr/sbin/sshd -D -f "$work/sshd_config" -E "$work/sshd.log" &
sshd_pid=$!

{
  printf '[127.0.0.1]:%s ' "$port"
  cut -d' ' -f1,2 "$work/host_key.pub"
} >"$work/known_hosts"
cat >"$work/ssh_config" <<EOF
Host machine1 machine2
  HostName 127.0.0.1
  Port $port
  User $user
  IdentityFile $work/id_user
  IdentitiesOnly yes
  UserKnownHostsFile $work/known_hosts
  StrictHostKeyChecking yes
  BatchMode yes
  PasswordAuthentication no
  ConnectTimeout 10
  ServerAliveInterval 5
  ServerAliveCountMax 6
EOF
ssh_command="ssh -F $work/ssh_config"

for try in $(seq 50); do
  if timeout 20 $ssh_command machine1 true 2>/dev/null; then break; fi
  ((try < 50)) || fail "no login on 127.0.0.1:$port"
  sleep 0.2
done
[[ $(timeout 20 $ssh_command machine2 'command -v tabulon') == "$home/bin/tabulon" ]] ||
  fail "tabulon is not found on the remote PATH"
# A password is never accepted: with only password login allowed, ssh fails.
if timeout 20 ssh -F "$work/ssh_config" -o PubkeyAuthentication=no machine1 true 2>/dev/null; then
  fail "a login without the key succeeded"
fi

echo "-- the data: the bundled example's records, many times over"
cd "$work"
cp "$OLDPWD/examples/customers.params" layout.txt
mkdir data
for i in $(seq 3000); do cat "$OLDPWD/examples/customers.txt"; done >big.txt
size=0
for name in a b c d e f; do
  size=$((size + 50000))
  head -c "$size" big.txt >"data/$name.txt"
done
export PARALLEL_SSH=$ssh_command

echo "-- one large file: blocks through ssh to two machines, joined in order"
"$binary" -h -f layout.txt big.txt single.csv
printf '' | "$binary" -h -f layout.txt /dev/stdin /dev/stdout >big.csv
timeout 300 parallel -S machine1,machine2 --basefile layout.txt --pipepart -a big.txt --block 100k -k \
  --joblog blocks.log tabulon -f layout.txt /dev/stdin /dev/stdout >>big.csv 2>blocks.err ||
  fail "the block runs failed: $(cat blocks.err)"
[[ ! -s blocks.err ]] || fail "the block runs wrote messages: $(cat blocks.err)"
cmp big.csv single.csv || fail "the joined blocks differ from a single run"
for machine in machine1 machine2; do
  blocks=$(awk -v m="$machine" '$2 == m' blocks.log | wc -l)
  ((blocks > 0)) || fail "no block ran on $machine"
  echo "   $blocks blocks on $machine"
done

echo "-- many files: each sent over, converted there, its output fetched back"
timeout 300 parallel -S machine1,machine2 --basefile layout.txt --trc {.}.csv --joblog files.log \
  tabulon -f layout.txt {} {.}.csv ::: data/*.txt 2>files.err ||
  fail "the file runs failed: $(cat files.err)"
[[ ! -s files.err ]] || fail "the file runs wrote messages: $(cat files.err)"
for input in data/*.txt; do
  "$binary" -f layout.txt "$input" single.csv
  cmp "${input%.txt}.csv" single.csv || fail "${input%.txt}.csv differs from a single run"
done
[[ $(awk 'NR > 1 { print $2 }' files.log | sort -u | wc -l) -eq 2 ]] ||
  fail "the files did not go to both machines"
leftover=$(find "$home" -name '*.txt' -path '*data*' | wc -l)
((leftover == 0)) || fail "$leftover input file(s) left on the remote side"
echo "-- ssh recipes OK: $(wc -c <big.csv) bytes in blocks, $(ls data/*.txt | wc -l) files"
