#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/corpus/<target>/.

The seeds are the frames and files the tests use: replies of the start, status, filling,
counter and parameter commands, the settings file and a parameter buffer file. Run it again
after changing an input layout (fuzz_replies.cpp documents its header and answer format).
"""
import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))


def data_reply(data: bytes) -> bytes:
    """02, each data byte and its complement, 03 03, the check byte."""
    out = bytearray([0x02])
    check = 0x03
    for b in data:
        out += bytes([b, b ^ 0x7F])
        check ^= b
    out += bytes([0x03, 0x03, check | 0x40])
    return bytes(out)


ACK, NAK, REFUSED = b"\x06", b"\x15", b"\x18"
ONE_BYTE = bytes([0x02, 0x41, 0x3E, 0x03, 0x03, 0x42])
STATUS_IDLE = data_reply(b"0")
STATUS_FILLING = data_reply(b"40")
STATUS_FILLING_ENDED = data_reply(b"6")
TYPE_A = data_reply(b"A")
FILLING_TYPE1 = data_reply(b"002575" + b"056150" + b"2180")
FILLING_TYPE2 = data_reply(b"002575" + b"00056150" + b"002180")
SHORT_FILLING = data_reply(b"x24680")
COUNTERS = data_reply(b"12345678" + b"1234567" + b"0")
PARAM_N = bytes([0x02, 0x39, 0x46, 0x31, 0x4E, 0x32, 0x4D, 0x35, 0x4A, 0x03, 0x03, 0x4C])
PARAM_DECIMALS = data_reply(b"x2")
ECHO = bytes([0x7F, 0x02, 0x21, 0x5E, 0x32, 0x4D, 0x03, 0x03, 0x50])

VALIDATOR = {
    "ack": ACK, "nak": NAK, "refused": REFUSED, "one_data_byte": ONE_BYTE,
    "bad_check": ONE_BYTE[:-1] + b"\x43", "bad_complement": ONE_BYTE[:2] + b"\x3F" + ONE_BYTE[3:],
    "status": STATUS_FILLING, "filling": FILLING_TYPE1, "counters": COUNTERS, "param_n": PARAM_N,
    "echo_then_reply": ECHO + ONE_BYTE, "noise_only": b"\x7F\x33\x44",
}


def answers(*replies: bytes) -> bytes:
    """Each reply behind its length byte, as the fuzz link reads them."""
    return b"".join(bytes([len(r)]) + r for r in replies)


SILENT = b"\x00\x00"
FAILED = b"\x00\x01"

# Header: command, settings, line, column, argument (fuzz_replies.cpp).
STATUS, SHORT, FILLING, COUNT, TYPE, PARAM, TREAD, AUTH, PRICE, CWRITE, DOSE, TWRITE, STOP = range(13)


def header(command, settings=0x10, line=1, column=3, arg=1):
    return bytes([command, settings, line, column, arg])


REPLIES = {
    "status_idle": header(STATUS, arg=2) + answers(STATUS_IDLE, STATUS_IDLE),
    "status_filling": header(STATUS, arg=1 | (1 << 3)) + answers(STATUS_FILLING),
    "status_ended": header(STATUS, arg=1 | (2 << 3)) + answers(STATUS_FILLING, TYPE_A, FILLING_TYPE1, ACK),
    "status_avtomatika": header(STATUS, settings=0x11, arg=2) + answers(STATUS_FILLING_ENDED, SHORT_FILLING, ACK, ACK),
    "status_silent": header(STATUS, arg=3) + answers(STATUS_IDLE) + SILENT,
    "short_filling": header(SHORT, arg=2) + answers(SHORT_FILLING),
    "short_filling_refused": header(SHORT, arg=2) + answers(REFUSED),
    "filling_type1": header(FILLING, arg=1) + answers(TYPE_A, FILLING_TYPE1),
    "filling_type2": header(FILLING, arg=2) + answers(data_reply(b"B"), FILLING_TYPE2),
    "filling_type0_silent": header(FILLING, arg=10) + SILENT + answers(FILLING_TYPE1),
    "filling_avtomatika": header(FILLING, settings=0x11, arg=1) + answers(SHORT_FILLING),
    "counters": header(COUNT, arg=2) + answers(COUNTERS),
    "counters_echo": header(COUNT, arg=2) + answers(ECHO + COUNTERS),
    "type_query": header(TYPE, arg=1) + answers(TYPE_A, FILLING_TYPE1, data_reply(b"H")),
    "get_param": header(PARAM, arg=36) + answers(data_reply(b"J5821")),
    "get_param_refused": header(PARAM, arg=15) + answers(REFUSED),
    "read_parameter": header(TREAD, column=2, arg=9) + answers(PARAM_N),
    "read_parameter_failed": header(TREAD, column=2, arg=9) + FAILED,
    "get_param_ack": header(PARAM, arg=36) + answers(ACK),
    "get_param_no_digits": header(PARAM, arg=36) + answers(data_reply(b"J")),
    "read_parameter_nak": header(TREAD, column=2, arg=9) + answers(NAK),
    "read_parameter_52_no_digits": header(TREAD, column=2, arg=52) + answers(data_reply(b"x")),
    "price_decimals_ack": header(PRICE, settings=0x14, arg=1 | (30 << 3)) + answers(ACK, ACK),
    "authorize_force": header(AUTH, settings=0x12, arg=1) + answers(ACK, ACK, ACK, ACK),
    "authorize_refused": header(AUTH, settings=0x12, arg=1) + answers(ACK, REFUSED, ACK, ACK),
    "price_decimals": header(PRICE, settings=0x14, arg=1 | (30 << 3)) + answers(PARAM_DECIMALS, ACK),
    "price_refused": header(PRICE, settings=0x14, arg=1 | (30 << 3)) + answers(PARAM_DECIMALS, REFUSED, ACK, ACK),
    "counter_write": header(CWRITE, arg=2) + answers(ACK, ACK, data_reply(b"J5821")),
    "dose_money": header(DOSE, settings=0x00, arg=9) + answers(ACK, ACK),
    "dose_litres": header(DOSE, settings=0x10, arg=9) + answers(ACK, ACK),
    "calibration": header(TWRITE, settings=0x90, column=2, arg=0) + answers(ACK, ACK, data_reply(b"J5821")),
    "address_programming": header(TWRITE, column=2, arg=2) + answers(ACK),
    "stop_release": header(STOP, settings=0x90, arg=2) + answers(ACK, ACK, ACK),
}

CNF = b"[Dorv]\r\nPistStep=1\r\nFreeStartEn=1\r\nStartInLiter=1\r\nForceStart=0\r\n" \
      b"NoVerifeAuthorization=0\r\nSpecAvtomatika=0\r\nReadDecimalTRK=1\r\n"
CNF_ODD = b"[Station]\nName=North\n; comment\n[dorv]\npiststep=258\nforcestart=yes\nSpecAvtomatika=$1\n"
BUFFER = b"[Parametr]\n" + b"".join(b"%d=%d\n" % (n, v) for n, v in
                                    [(0, 1), (2, 2), (3, 1), (7, -5), (24, 123456), (25, 99999999), (52, -123)])
BUFFER_ODD = b"[Other]\nkeep=1\n[Parametr]\n0=0x10\n2= 7 \n7=abc\n99=5\n[Parametr\n3=4\n"

FILES = {
    "fuzz_ini": {"cnf.INI": CNF, "cnf_odd.INI": CNF_ODD, "buffer.par": BUFFER, "buffer_odd.par": BUFFER_ODD},
    "fuzz_settings": {"cnf.INI": CNF, "cnf_odd.INI": CNF_ODD, "empty.INI": b""},
    "fuzz_buffer_file": {"buffer.par": BUFFER, "buffer_odd.par": BUFFER_ODD, "cnf.INI": CNF},
}


def write(target: str, files: dict) -> None:
    folder = os.path.join(HERE, "corpus", target)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, content in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(content)


START = bytes([0x7F, 0x02, 0x21, 0x5E, 0x32, 0x4D, 0x03, 0x03, 0x50])
STATUS_REQUEST = bytes([0x7F, 0x02, 0x23, 0x5C, 0x31, 0x4E, 0x03, 0x03, 0x51])


def link_input(request: bytes, *pieces: bytes) -> bytes:
    """The request sent, then the line's bytes in pieces (fuzz_link_reply.cpp)."""
    return bytes([len(request)]) + request + answers(*pieces)


LINK = {
    "ack": link_input(START, ACK),
    "echo_then_ack": link_input(START, START + ACK),
    "echo_in_pieces": link_input(START, START[:4], START[4:] + ACK),
    "status_in_pieces": link_input(STATUS_REQUEST, STATUS_FILLING[:3], STATUS_FILLING[3:]),
    "noise_then_reply": link_input(STATUS_REQUEST, b"\x7F\x33" + STATUS_IDLE + b"\x06\x06"),
    "counters": link_input(b"", COUNTERS),
    "refused_no_echo": link_input(b"", REFUSED),
}

write("fuzz_validator", VALIDATOR)
write("fuzz_link_reply", LINK)
write("fuzz_replies", REPLIES)
for target, files in FILES.items():
    write(target, files)
