#!/usr/bin/env bash
# The plan module of contrib/ansible, run by Debian's ansible-playbook against
# localhost (connection local) with the Linux build working on a root folder
# of its own: check mode changes nothing, a run changes the root and writes
# the history there, a second run changes nothing, and a plan that also
# switches off a critical item fails that change and changes nothing else.
# Usage: plan_through_ansible.sh SOURCE_FOLDER PROGRAM
set -euo pipefail
source_folder=$1
program=$2
if ! command -v ansible-playbook >/dev/null 2>&1; then
  echo "ansible-playbook is not installed (scripts/setup.sh installs it)"
  exit 1
fi
work=$(mktemp -d /tmp/quillmoor-ansible.XXXXXX)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
root=$work/root
fail() { echo "FAILED: $*"; exit 1; }

mkdir -p "$root/etc/xdg/autostart" "$root/lib/systemd/system" "$root/etc/systemd/system/multi-user.target.wants"
printf '[Desktop Entry]\nName=Alpha\nExec=/usr/bin/alpha\n' >"$root/etc/xdg/autostart/alpha.desktop"
printf '[Desktop Entry]\nName=Beta\nExec=/usr/bin/beta\n' >"$root/etc/xdg/autostart/beta.desktop"
printf '[Unit]\nDescription=D-Bus\n[Service]\nExecStart=/usr/bin/dbus-daemon --system\n[Install]\nWantedBy=multi-user.target\n' \
  >"$root/lib/systemd/system/dbus.service"
ln -s /lib/systemd/system/dbus.service "$root/etc/systemd/system/multi-user.target.wants/dbus.service"

export QUILLMOOR_LINUX_ROOT=$root XDG_DATA_HOME=
export ANSIBLE_COLLECTIONS_PATH=$source_folder/contrib/ansible ANSIBLE_LOCAL_TEMP=$work/tmp ANSIBLE_REMOTE_TEMP=$work/tmp
export ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_PYTHON_INTERPRETER=auto_silent
"$program" plan export "$work/plan.json" disable:Alpha disable:Beta >/dev/null
"$program" plan export "$work/critical.json" disable:Alpha disable:dbus.service >/dev/null

cat >"$work/play.yml" <<PLAY
- hosts: localhost
  connection: local
  gather_facts: false
  tasks:
    - quillmoor.startup.plan:
        plan: "{{ plan_file }}"
        executable: $program
PLAY

# play PLAN [OPTIONS...]: runs the playbook, prints its output, leaves its recap line in $recap.
play() {
  local plan=$1
  shift
  local out
  out=$(ansible-playbook -i localhost, "$work/play.yml" -e "plan_file=$plan" "$@" 2>&1) && code=0 || code=$?
  echo "$out"
  recap=$(echo "$out" | grep -E '^localhost +:' || true)
}
tree() { (cd "$root" && find . -path ./var -prune -o -print | sort; find . -type f -path './home/*' -exec cat {} + 2>/dev/null) }

before=$(tree)
play "$work/plan.json" --check --diff
echo "$recap" | grep -q 'changed=1 .*failed=0' || fail "check mode: $recap"
[ "$(tree)" = "$before" ] || fail "check mode changed the root"

play "$work/plan.json"
echo "$recap" | grep -q 'changed=1 .*failed=0' || fail "first run: $recap"
[ "$(tree)" != "$before" ] || fail "the first run changed nothing"
journal=$(find "$root" -name journal.jsonl | head -n 1)
[ -n "$journal" ] && [ "$(grep -c '^{.*"action":"disable"' "$journal")" = 2 ] || fail "the history holds no two switch-offs"

after=$(tree)
play "$work/plan.json"
echo "$recap" | grep -q 'changed=0 .*failed=0' || fail "second run: $recap"

"$program" enable Alpha --yes >/dev/null
changed=$(tree)
play "$work/critical.json"
echo "$recap" | grep -q 'failed=1' || fail "the critical item's plan: $recap"
[ "$(tree)" = "$changed" ] || fail "a refused plan changed the root"
"$program" list | grep -q '^yes .*dbus.service' || fail "dbus.service is not on"
echo "ansible: check, apply, idempotent and refusal all as expected"
