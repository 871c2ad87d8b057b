#!/usr/bin/env python3
"""Turns an evemu recording into the files that umockdev needs to emulate its
device: the device with its udev properties (.umockdev), the kernel's answers
to the ioctls that libevdev asks (.ioctl) and the events to play (.events).

    evemu2umockdev.py RECORDING OUTPUT_PREFIX [options]

writes OUTPUT_PREFIX.umockdev, .ioctl and .events and prints the device node.
A recording that is not of a touchscreen, touch frame, pen display or tablet
gives one line on standard error, exit status 1 and no files.
"""

import argparse
import os
import struct
import sys

EV_SYN, EV_KEY, EV_REL, EV_ABS, EV_MSC, EV_SW = 0x00, 0x01, 0x02, 0x03, 0x04, 0x05
EV_LED, EV_SND, EV_REP, EV_FF = 0x11, 0x12, 0x14, 0x15
SYN_REPORT, SYN_DROPPED = 0, 3
BTN_TOOL_PEN, BTN_TOOL_AIRBRUSH, BTN_TOOL_FINGER, BTN_TOUCH = 0x140, 0x144, 0x145, 0x14A
ABS_X, ABS_Y, ABS_MT_SLOT = 0x00, 0x01, 0x2F
ABS_MT_POSITION_X, ABS_MT_POSITION_Y, ABS_MT_TRACKING_ID = 0x35, 0x36, 0x39
INPUT_PROP_POINTER, INPUT_PROP_DIRECT = 0x00, 0x01

# The highest code of each event type, as the kernel (6.1) numbers them.
TYPE_MAX = {EV_SYN: 0x1F, EV_KEY: 0x2FF, EV_REL: 0x0F, EV_ABS: 0x3F, EV_MSC: 0x07,
            EV_SW: 0x10, EV_LED: 0x0F, EV_SND: 0x07, EV_REP: 0x01, EV_FF: 0x7F}
PROP_MAX = 0x1F
LONG_BYTES = 8
# What libevdev (1.13) asks for: 255 bytes of each string, and the slot
# values with room for 256 slots after the code.
STRING_BYTES = 255
SLOT_VALUES = 256
# The ioctls' numbers, as umockdev names them; a "(n)" after a name adds n to
# the request's number (an event type or axis), and the size of the answer
# is that of the data.
EVDEV_VERSION = 0x010001
INPUT_MAJOR = 13
EVENT_MINOR_BASE = 64


class NotADevice(Exception):
    pass


def bitmask_bytes(highest):
    """The bytes of a bit mask of codes 0..highest, in whole longs."""
    longs = (highest + 1 + LONG_BYTES * 8 - 1) // (LONG_BYTES * 8)
    return longs * LONG_BYTES


class Device:
    def __init__(self):
        self.name = ""
        self.ids = (0, 0, 0, 0)
        self.props = set()
        self.codes = {}  # type -> set of codes
        self.axes = {}  # code -> [min, max, fuzz, flat, resolution]
        self.header_resolutions = {}
        self.events = []  # (microseconds, type, code, value)
        self.described = False

    def has(self, type_, code=None):
        codes = self.codes.get(type_, set())
        return bool(codes) if code is None else code in codes

    def is_touch(self):
        if self.has(EV_ABS, ABS_MT_POSITION_X) and self.has(EV_ABS, ABS_MT_POSITION_Y):
            return True
        return (not self.is_pen() and self.has(EV_KEY, BTN_TOUCH)
                and self.has(EV_ABS, ABS_X) and self.has(EV_ABS, ABS_Y))

    def is_pen(self):
        tool = any(self.has(EV_KEY, c) for c in range(BTN_TOOL_PEN, BTN_TOOL_AIRBRUSH + 1))
        return tool and self.has(EV_ABS, ABS_X) and self.has(EV_ABS, ABS_Y)


def read(path):
    device = Device()
    desc = os.path.splitext(path)[0] + ".desc"
    if desc != path and os.path.exists(desc):
        parse(device, desc, events=False)
    parse(device, path, events=True)
    for code, axis in device.axes.items():
        if axis[4] == 0:
            axis[4] = device.header_resolutions.get(code, 0)
    return device


def parse(device, path, events):
    mask_offsets = {}
    header_type = header_code = -1
    with open(path, encoding="utf-8", errors="replace") as text:
        for number, line in enumerate(text, 1):
            line = line.strip()
            if not line:
                continue
            if line.startswith("#"):
                words = line[1:].split()
                if words[:2] == ["Event", "type"] and len(words) > 2:
                    header_type, header_code = int(words[2]), -1
                elif words[:2] == ["Event", "code"] and len(words) > 2:
                    header_code = int(words[2])
                elif words[:1] == ["Resolution"] and len(words) == 2 and header_type == EV_ABS:
                    device.header_resolutions[header_code] = int(words[1])
                continue
            kind, _, rest = line.partition(":")
            words = rest.split("#")[0].split()
            try:
                if kind == "N":
                    device.name = rest.strip()
                elif kind == "I":
                    device.ids = tuple(int(w, 16) for w in words[:4])
                elif kind in ("P", "B"):
                    type_ = None if kind == "P" else int(words[0], 16)
                    data = words if kind == "P" else words[1:]
                    offset = mask_offsets.get(type_, 0)
                    for i, byte in enumerate(data):
                        for bit in range(8):
                            if int(byte, 16) >> bit & 1:
                                code = (offset + i) * 8 + bit
                                if type_ is None:
                                    device.props.add(code)
                                elif type_ != EV_SYN:
                                    device.codes.setdefault(type_, set()).add(code)
                    mask_offsets[type_] = offset + len(data)
                elif kind == "A":
                    values = [int(w) for w in words[1:6]] + [0] * (6 - len(words))
                    device.axes[int(words[0], 16)] = values[:5]
                    device.codes.setdefault(EV_ABS, set()).add(int(words[0], 16))
                elif kind == "E" and events:
                    seconds, _, fraction = words[0].partition(".")
                    time = int(seconds) * 1000000 + int(fraction.ljust(6, "0")[:6])
                    device.events.append((time, int(words[1], 16), int(words[2], 16),
                                          int(words[3])))
                else:
                    continue
                if kind != "E":
                    device.described = True
            except (ValueError, IndexError):
                raise NotADevice(f"{path}:{number}: not a line of an evemu recording")


class State:
    """What a reader of the device knows after some of its events: keys,
    absolute values and, for devices with slots, each slot's values."""

    def __init__(self, device):
        self.keys = set()
        self.values = {code: 0 for code in device.axes}
        self.slot_codes = [c for c in sorted(device.axes) if c > ABS_MT_SLOT]
        count = slot_count(device)
        self.slots = [{c: (-1 if c == ABS_MT_TRACKING_ID else 0) for c in self.slot_codes}
                      for _ in range(count)]
        # A key whose first event is a release was held when the recording
        # started, as the board library reads such a recording.
        seen = set()
        for _, type_, code, value in device.events:
            if type_ == EV_KEY and code not in seen:
                seen.add(code)
                if value == 0:
                    self.keys.add(code)

    def apply(self, type_, code, value):
        if type_ == EV_KEY:
            (self.keys.add if value else self.keys.discard)(code)
        elif type_ == EV_ABS:
            slot = self.values.get(ABS_MT_SLOT, 0)
            if self.slots and code in self.slot_codes and 0 <= slot < len(self.slots):
                self.slots[slot][code] = value
            if code in self.values:
                self.values[code] = value


def slot_count(device):
    if ABS_MT_SLOT not in device.axes:
        return 0
    low, high = device.axes[ABS_MT_SLOT][:2]
    return max(0, high - low + 1)


def hexdata(data):
    return data.hex().upper()


def string_answer(name, text):
    data = text.encode("utf-8")[:STRING_BYTES - 1] + bytes(1)
    return f"{name} {len(data)} {hexdata(data.ljust(STRING_BYTES, bytes(1)))}"


def mask(codes, highest):
    data = bytearray(bitmask_bytes(highest))
    for code in codes:
        if code <= highest:
            data[code // 8] |= 1 << (code % 8)
    return bytes(data)


def slot_answers(state):
    lines = []
    for code in state.slot_codes if state.slots else []:
        values = [slot[code] for slot in state.slots][:SLOT_VALUES]
        data = struct.pack(f"<I{SLOT_VALUES}i", code, *values, *[0] * (SLOT_VALUES - len(values)))
        lines.append(f"EVIOCGMTSLOTS 0 {hexdata(data)}")
    return lines


def key_answer(device, state):
    if not device.has(EV_KEY):
        return []
    data = mask(state.keys, TYPE_MAX[EV_KEY])
    return [f"EVIOCGKEY {len(data)} {hexdata(data)}"]


def axis_answers(device, state):
    lines = []
    for code in sorted(device.axes):
        axis = device.axes[code]
        data = struct.pack("<6i", state.values[code], *axis)
        lines.append(f"EVIOCGABS({code}) 0 {hexdata(data)}")
    return lines


def sync_answers(device, state):
    """The answers that bring a reader up to date after SYN_DROPPED, in the
    order libevdev asks them then."""
    return slot_answers(state) + key_answer(device, state) + axis_answers(device, state)


def open_answers(device, state, phys, uniq):
    """The answers to what libevdev asks when it opens the device, in its
    order: umockdev takes the answers of one request in turn, in file order."""
    types = sorted(t for t in device.codes if device.codes[t]) + [EV_SYN]
    lines = [f"EVIOCGBIT 8 {hexdata(mask(types, TYPE_MAX[EV_SYN]))}",
             string_answer("EVIOCGNAME", device.name)]
    if phys:
        lines.append(string_answer("EVIOCGPHYS", phys))
    if uniq:
        lines.append(string_answer("EVIOCGUNIQ", uniq))
    lines.append("EVIOCGID 0 " + hexdata(struct.pack("<4H", *device.ids)))
    lines.append("EVIOCGVERSION 0 " + hexdata(struct.pack("<i", EVDEV_VERSION)))
    props = mask(device.props, PROP_MAX)
    lines.append(f"EVIOCGPROP {len(props)} {hexdata(props)}")
    for type_ in (EV_REL, EV_ABS, EV_LED, EV_KEY, EV_SW, EV_MSC, EV_FF, EV_SND):
        data = mask(device.codes.get(type_, ()), TYPE_MAX[type_])
        lines.append(f"EVIOCGBIT({type_}) {len(data)} {hexdata(data)}")
    lines += key_answer(device, state)
    for name, type_ in (("EVIOCGLED", EV_LED), ("EVIOCGSW", EV_SW)):
        data = mask((), TYPE_MAX[type_])
        lines.append(f"{name} {len(data)} {hexdata(data)}")
    return lines + axis_answers(device, state) + slot_answers(state)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("recording")
    parser.add_argument("prefix", help="where to write PREFIX.umockdev, .ioctl and .events")
    parser.add_argument("--node", type=int, default=5, help="the N of /dev/input/eventN")
    parser.add_argument("--speed", type=float, default=1.0,
                        help="play the events this many times faster than recorded")
    parser.add_argument("--max-gap", type=float,
                        help="shorten pauses between frames to at most this many seconds (played"
                             " time): a recording played faster without reading its events any"
                             " faster")
    parser.add_argument("--name", help="the device's name instead of the recorded one")
    parser.add_argument("--phys", default="", help="the device's physical path")
    parser.add_argument("--uniq", default="", help="the device's unique identifier")
    parser.add_argument("--touchpad", action="store_true",
                        help="a touchpad, not a screen: INPUT_PROP_POINTER and BTN_TOOL_FINGER"
                             " instead of INPUT_PROP_DIRECT")
    parser.add_argument("--drop", type=float, nargs=2, metavar=("AT", "LENGTH"),
                        help="lose the frames of LENGTH seconds from AT seconds (recorded time)"
                             " and send SYN_DROPPED instead, with the state after them")
    parser.add_argument("--gap", type=float, default=1.0,
                        help="seconds of quiet after a SYN_DROPPED (played time)")
    parser.add_argument("--resting", type=float, metavar="AT",
                        help="open the device with what is down AT seconds into the recording"
                             " (its slots and keys), and play from there")
    parser.add_argument("--until", type=float,
                        help="leave out the frames after this many seconds (recorded time), so"
                             " that what is down then stays down")
    args = parser.parse_args()

    try:
        device = read(args.recording)
    except OSError as error:
        sys.exit(f"{args.recording}: cannot read it ({error.strerror})")
    except NotADevice as error:
        sys.exit(str(error))
    if not device.described or not (device.is_touch() or device.is_pen()):
        sys.exit(f"{args.recording}: not a recording of a touchscreen, touch frame, pen display "
                 "or tablet")
    if args.name is not None:
        device.name = args.name
    if args.touchpad:
        device.props.discard(INPUT_PROP_DIRECT)
        device.props.add(INPUT_PROP_POINTER)
        device.codes.setdefault(EV_KEY, set()).add(BTN_TOOL_FINGER)
    # As udev tells them: a touch device with no properties that counts no
    # fingers is an older touchscreen.
    screen = INPUT_PROP_DIRECT in device.props or (
        not device.props and not device.has(EV_KEY, BTN_TOOL_FINGER))

    node = f"/dev/input/event{args.node}"
    state = State(device)
    start = device.events[0][0] if device.events else 0
    speed = args.speed if args.speed > 0 else 1.0
    # Played times: from the first event played, divided by the speed.
    shift = 0
    if args.resting is not None:
        at = start + int(args.resting * 1e6)
        first = 0
        for i, (time, type_, code, value) in enumerate(device.events):
            if time >= at and (i == 0 or device.events[i - 1][1:3] == (EV_SYN, SYN_REPORT)):
                break
            state.apply(type_, code, value)
            first = i + 1
        device.events = device.events[first:]
        if device.events:
            shift = -int((device.events[0][0] - start) / speed)
    answers = open_answers(device, state, args.phys, args.uniq)
    lines = []
    drop_from = drop_to = None
    if args.drop:
        drop_from = start + int(args.drop[0] * 1e6)
        drop_to = drop_from + int(args.drop[1] * 1e6)
    dropping = dropped = in_frame = False
    previous = device.events[0][0] if device.events else start
    for time, type_, code, value in device.events:
        if not in_frame:
            pause = (time - previous) / speed
            if args.max_gap is not None and pause > args.max_gap * 1e6:
                shift -= int(pause - args.max_gap * 1e6)
            previous = time
            if args.until is not None and time > start + args.until * 1e6:
                break
            if drop_from is not None and not dropped and not dropping and time >= drop_from:
                dropping = True
            elif dropping and time >= drop_to:
                # The reader is told, and asks for the state after what it lost.
                dropping, dropped = False, True
                played = (drop_from - start) / speed + shift
                lines.append(f"E: {played / 1e6:.6f} {EV_SYN:04x} {SYN_DROPPED:04x} 0")
                answers += sync_answers(device, state)
                shift += int(args.gap * 1e6) - int((time - drop_from) / speed)
        in_frame = not (type_ == EV_SYN and code == SYN_REPORT)
        state.apply(type_, code, value)
        if not dropping:
            played = (time - start) / speed + shift
            lines.append(f"E: {played / 1e6:.6f} {type_:04x} {code:04x} {value}")

    minor = EVENT_MINOR_BASE + args.node
    kind = "ID_INPUT_TABLET" if device.is_pen() else (
        "ID_INPUT_TOUCHSCREEN" if screen else "ID_INPUT_TOUCHPAD")
    parent = f"/devices/virtual/input/input{args.node}"
    with open(args.prefix + ".umockdev", "w") as out:
        out.write(f"P: {parent}/event{args.node}\nN: input/event{args.node}\n"
                  f"E: DEVNAME={node}\nE: MAJOR={INPUT_MAJOR}\nE: MINOR={minor}\n"
                  f"E: SUBSYSTEM=input\nE: ID_INPUT=1\nE: {kind}=1\n"
                  f"A: dev={INPUT_MAJOR}:{minor}\n\n"
                  f"P: {parent}\nE: SUBSYSTEM=input\nE: NAME=\"{device.name}\"\n"
                  f"E: ID_INPUT=1\nE: {kind}=1\nA: name={device.name}\n")
    with open(args.prefix + ".ioctl", "w") as out:
        out.write(f"@DEV {node}\n" + "\n".join(answers) + "\n")
    with open(args.prefix + ".events", "w") as out:
        out.write("\n".join(lines) + "\n")
    print(node)


if __name__ == "__main__":
    main()
