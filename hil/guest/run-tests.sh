#!/usr/bin/env bash
# Runs in the guest, chrooted into the host's / by hil/guest/init: runs each
# hil/tests/*.sh in the order of its name, from the project's root, with its
# output on the console, and writes one line per script to
# $HIL_RESULTS/status ("NAME EXIT_STATUS SECONDS"), then "done UPTIME". hil/run.sh
# reads that file on the host once the guest has stopped.
#
# A script gets $HIL_TEST_TIMEOUT seconds; then it and every process it
# started are killed (status 124). Processes, gadgets and FunctionFS mounts a
# script leaves behind are removed and make it fail, so that each script
# starts from the guest's boot state.
set -uo pipefail
cd "$HIL_ROOT" || exit 1
. hil/lib.sh

status_file=$HIL_RESULTS/status
: > "$status_file"

# Prints the live processes of process group $1 (builtins only: a fork
# per process would cost seconds under emulation). Zombies are left out:
# they are dead, and init, which inherits them, never reaps them here.
group_members() {
  local stat rest fields
  for stat in /proc/[0-9]*/stat; do
    read -r rest 2> /dev/null < "$stat" || continue   # it may have ended
    read -ra fields <<< "${rest##*) }"   # after the command's name: state ppid pgrp
    if [ "${fields[2]:-}" = "$1" ] && [ "${fields[0]}" != Z ]; then
      echo "${stat//[^0-9]/}"
    fi
  done
}

group_is_empty() { [ -z "$(group_members "$1")" ]; }

# run_one SCRIPT NAME: runs it and sets $status.
run_one() {
  local script=$1 name=$2 pid leftovers
  # timeout puts the script in a process group of its own, and kills the
  # whole group when time is up.
  HIL_OUT=$HIL_RESULTS/$name \
    timeout -k 5 "$HIL_TEST_TIMEOUT" bash "$script" < /dev/null &
  pid=$!
  wait "$pid"
  status=$?
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    echo "hil: $script took more than $HIL_TEST_TIMEOUT s and was stopped"
    status=124
  fi
  leftovers=$(group_members "$pid")
  if [ -n "$leftovers" ]; then
    echo "hil: $script left processes running (" $leftovers "); killed"
    kill -KILL -- "-$pid" 2>/dev/null
    hil_wait 5 group_is_empty "$pid"
    [ "$status" -ne 0 ] || status=1
  fi
  leftovers=$(hil_leftovers)
  if [ -n "$leftovers" ]; then
    echo "$leftovers" | sed "s|^|hil: $script |"
    [ "$status" -ne 0 ] || status=1
  fi
}

# Seconds since $1 (an $EPOCHREALTIME), with two decimals.
seconds_since() {
  local us=$(( ${EPOCHREALTIME/./} - ${1/./} ))
  printf '%d.%02d' $((us / 1000000)) $((us % 1000000 / 10000))
}

for script in hil/tests/*.sh; do
  name=${script##*/}
  name=${name%.sh}
  [[ $name == $HIL_TESTS ]] || continue   # a glob, unquoted on purpose
  mkdir -p "$HIL_RESULTS/$name"
  echo "hil: ==== $name"
  begin=$EPOCHREALTIME
  run_one "$script" "$name"
  seconds=$(seconds_since "$begin")
  echo "$name $status $seconds" >> "$status_file"
  echo "hil: ==== $name: exit status $status, $seconds s"
  if [ "$status" -ne 0 ]; then
    echo "hil: the kernel's last messages:"
    dmesg 2>&1 | tail -n 20
  fi
done
# The guest's uptime: hil/run.sh checks it against the time QEMU ran, since
# every time limit of the scripts trusts this clock.
read -r uptime _ < /proc/uptime
echo "done $uptime" >> "$status_file"
