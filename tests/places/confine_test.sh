#!/usr/bin/env bash
# confine_test.sh CONFINE PROBE
#
# Runs single system calls (confine_probe) bare and under each of confine's modes, and checks
# the kernel's answer: clone3 refused with ENOSYS in both modes, new user namespaces refused
# with EPERM under --no-userns whichever way they are asked for, everything else let through;
# no_new_privs set; usage errors and a missing command reported.
set -uo pipefail

confine=$1 probe=$2
failures=0

# fail MESSAGE: records a failed expectation.
fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

# The bare answers first: a row can only show the filter at work where the call goes through
# without it (a machine refusing user namespaces already is reported, not failed).
bare_userns=$("$probe" unshare-newuser)
[[ $bare_userns == ok ]] || echo "note: user namespaces are refused here already ($bare_userns)"
i386=$("$probe" i386-unshare 2>/dev/null) || i386=no-i386
# no_new_privs is inherited: under a runner that sets it (bubblewrap, systemd's
# NoNewPrivileges=), the bare row cannot see it unset.
inherited_nnp=$(awk '/^NoNewPrivs:/ { print $2 }' /proc/self/status)
[[ $inherited_nnp != 1 ]] || echo "note: this test runs with no_new_privs set already"

# mode|call|expected answer (mode "bare": without confine)
while IFS='|' read -r mode call want; do
    if [[ $mode == bare ]]; then
        got=$("$probe" "$call" 2>&1)
    else
        got=$("$confine" "$mode" -- "$probe" "$call" 2>&1)
    fi
    [[ $call == *newuser* || $call == clone-high ]] && [[ $bare_userns != ok && $want == ok ]] && continue
    [[ $call == i386-* && $i386 == no-i386 ]] && continue
    [[ $mode == bare && $call == no-new-privs && $inherited_nnp == 1 ]] && continue
    [[ $got == "$want" ]] || fail "$mode $call: \"$got\", expected \"$want\""
done <<'EOF_TABLE'
bare|clone3|ok
bare|clone|ok
bare|no-new-privs|unset
--container|clone3|ENOSYS
--container|clone|ok
--container|clone-newuser|ok
--container|unshare-newuser|ok
--container|i386-unshare|ok
--container|no-new-privs|ok
--no-userns|clone3|ENOSYS
--no-userns|clone|ok
--no-userns|clone-newuser|EPERM
--no-userns|clone-high|EPERM
--no-userns|unshare-newuser|EPERM
--no-userns|unshare-newns|ok
--no-userns|i386-unshare|EPERM
--no-userns|no-new-privs|ok
EOF_TABLE

# The C library's own fork and threads fall back from clone3 and still work under the filter.
# shellcheck disable=SC2016 # the inner shell expands it
out=$("$confine" --no-userns -- bash -c 'echo $( (echo child) )' 2>&1)
[[ $out == child ]] || fail "a shell cannot fork under --no-userns: $out"

# Usage errors: status 2 and the usage line; a missing command: 127.
for args in "" "--container" "--container true" "--other -- true" "--no-userns - true"; do
    # shellcheck disable=SC2086
    out=$("$confine" $args 2>&1)
    status=$?
    [[ $status == 2 && $out == *"usage: confine"* ]] || fail "confine $args: status $status: $out"
done
out=$("$confine" --container -- /no/such/command 2>&1)
status=$?
[[ $status == 127 && $out == *"cannot run /no/such/command"* ]] || fail "missing command: status $status: $out"
"$confine" --container -- sh -c 'exit 7'
status=$?
[[ $status == 7 ]] || fail "the command's status is not passed on: $status"

((failures == 0)) || { echo "$failures failed" >&2; exit 1; }
