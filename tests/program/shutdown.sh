# Sourced by the program tests, after scripts/xsession.sh.

# Checks that the simulated board's call log ($1) ends with the program's
# shutdown: pens and touches routed back to the system, PL off, the callbacks
# cleared, then the detach (again as the library goes). The whole tail, hand-
# back packets included: nothing reaches the driver after the first detach
# but the second one, as the library is unloaded. Lines may end with CR LF,
# as the Windows program writes them.
expect_shutdown() {
    local expected_tail="norvaWritePacket(1001, 3a504e30320d, 6) = 6
norvaSetPointingDeviceDestination(1001, 1, 0, 0)
norvaWritePacket(1001, 3a504e31320d, 6) = 6
norvaSetPointingDeviceDestination(1001, 2, 0, 0)
norvaWritePacket(1001, 3a504e32320d, 6) = 6
norvaSetPointingDeviceDestination(1001, 3, 0, 0)
norvaWritePacket(1001, 3a504e33320d, 6) = 6
norvaSetPointingDeviceDestination(1001, 4, 0, 0)
norvaSetTouchDestination(1001, 0)
norvaWritePacket(1001, 3a504c300d, 5) = 5"
    local tail_lines clears
    tail_lines=$(tr -d '\r' <"$1" | tail -n 14)
    [ "$(head -n 10 <<<"$tail_lines")" = "$expected_tail" ] ||
        fail "the call log does not end with the shutdown configuration: $tail_lines"
    clears=$(sed -n 11,12p <<<"$tail_lines" | sed -E 's/0x[0-9a-f]+/ADDR/g' | sort)
    [ "$clears" = "norvaClearCallback(0, ADDR, ADDR) = 1
norvaClearCallback(1001, ADDR, ADDR) = 1" ] ||
        fail "the callbacks are not cleared before the detach: $tail_lines"
    [ "$(sed -n 13,14p <<<"$tail_lines")" = "norvaDetach()
norvaDetach()" ] || fail "the call log does not end with the two detaches: $tail_lines"
    echo "the board is given back and the driver detached at exit"
}
