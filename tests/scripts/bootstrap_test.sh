#!/usr/bin/env bash
# scripts/bootstrap with fake package tools first on PATH: it must keep a new
# service from starting through a temporary policy-rc.d that answers 101, put
# back a policy that was there before, and end or stop nothing.  A harmless
# process named nginx stands for the user's own web server and must survive.
set -euo pipefail
source_dir="$1"
work="$(mktemp -d)"
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

bin="$work/bin"
calls="$work/calls"
policy="$work/policy-rc.d"
mkdir -p "$bin"
: >"$calls"

# One package is missing; the rest count as installed.
cat >"$bin/dpkg-query" <<'FAKE'
#!/bin/sh
for a; do last="$a"; done
[ "$last" = nginx-light ] && exit 1
printf 'install ok installed'
FAKE
# apt-get records its call and, while installing, what the policy answers.
cat >"$bin/apt-get" <<FAKE
#!/bin/sh
echo "apt-get \$*" >>"$calls"
case " \$* " in
  *" install "*)
    if [ -x "$policy" ]; then "$policy" nginx start; echo "policy answers \$?" >>"$calls"
    else echo "policy missing" >>"$calls"; fi ;;
esac
exit 0
FAKE
# Anything that ends or stops processes only records that it was asked to.
for tool in pkill killall systemctl service invoke-rc.d; do
  printf '#!/bin/sh\necho "%s $*" >>"%s"\nexit 0\n' "$tool" "$calls" >"$bin/$tool"
done
printf '#!/bin/sh\nexec "$@"\n' >"$bin/sudo"
chmod +x "$bin"/*

cp /bin/sleep "$work/nginx"
"$work/nginx" 600 &
server_pid=$!

fail() {
  echo "FAIL: $*"
  echo "--- calls:"
  cat "$calls"
  exit 1
}

run_bootstrap() {
  : >"$calls"
  PATH="$bin:$PATH" KW_POLICY_RC_D="$policy" bash "$source_dir/scripts/bootstrap" >"$work/out" 2>&1 ||
    fail "bootstrap failed: $(cat "$work/out")"
  grep -q "^apt-get install" "$calls" || fail "no install was run"
  grep -qx "policy answers 101" "$calls" || fail "no policy answered 101 during the install"
  if grep -Eq "^(pkill|killall|systemctl|service|invoke-rc.d) " "$calls"; then
    fail "bootstrap ended or stopped a process it did not start"
  fi
  kill -0 "$server_pid" 2>/dev/null || fail "the process named nginx was ended"
  [ "$(cat "/proc/$server_pid/comm")" = nginx ] || fail "the stand-in is not named nginx"
}

# Without a policy of its own the machine has none afterwards.
run_bootstrap
[ ! -e "$policy" ] || fail "the temporary policy was left behind"

# A policy that was there before is put back as it was.
printf '#!/bin/sh\n# mine\nexit 0\n' >"$policy"
chmod 0755 "$policy"
run_bootstrap
grep -q "# mine" "$policy" || fail "the machine's own policy was not put back"
[ ! -e "$policy.kw-bootstrap-saved" ] || fail "the saved policy was left behind"

echo "bootstrap leaves the machine alone"
