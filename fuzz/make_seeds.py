#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets (fuzz/corpus/<target>/) from worked examples.

Run it after changing an input layout of a fuzz target; the files it writes are kept in the
repository.
"""
import pathlib
import struct

SOH, CR = b"\x01", b"\r"
CORPUS = pathlib.Path(__file__).resolve().parent / "corpus"


def fcs(frame_after_soh):
    value = 0
    for byte in frame_after_soh:
        value ^= byte
    return b"%02X" % value


def addressed(node, message):
    body = b"%02d" % node + message
    return SOH + body + fcs(body) + CR


def u16(value):
    return struct.pack("<H", value & 0xFFFF)


def u32(value):
    return struct.pack("<I", value & 0xFFFFFFFF)


# Operations of the writers target, in the order of its enum.
LOAD, INIT, SET_NODE, SET_MESSAGE, SET_CODE, SET_FCS, SET_CMD_PARAM, SET_RESP_PARAM = range(8)
BUILD_CMD, BUILD_RESP, SEAL = 8, 9, 10
NULL_FRAME, NULL_ARGUMENT, NO_NODE = 1, 2, 4


def op(operation, flags=0, *arguments):
    return bytes([operation, flags]) + b"".join(arguments)


def init(size, flags=0):
    return op(INIT, flags, u16(size))


def message(text, flags=0, length=None):
    return op(SET_MESSAGE, flags, u16(len(text) if length is None else length), text)


def parameter(operation, text, flags=0, length=None):
    return op(operation, flags, u16(len(text) if length is None else length), text)


def build(operation, node, code, text=b"", flags=0):
    return op(operation, flags, u32(node), u32(code), u16(len(text)), text)


READER_SEEDS = {
    "addressed_model_number": addressed(1, b"1401"),
    "addressed_test": addressed(1, b"10"),
    "unaddressed_model_number": b"1401" + CR,
    "lone_cr": CR,
    "unaddressed_test": b"10" + CR,
    "addressed_too_short": SOH + b"01100" + CR,
    "largest_unaddressed": b"10" + b"A" * 275 + CR,
    "largest_addressed": addressed(1, b"10" + b"B" * 270),
    "cr_at_offset_278": b"10" + b"C" * 276 + CR,
    "line_feed": b"14\n01" + CR,
    "delete": b"10\x7f" + CR,
    "high_byte": b"10\xe9" + CR,
    "soh_in_message": b"10\x01AB" + CR,
    "node_00": SOH + b"00140105" + CR,
    "node_32": SOH + b"32140105" + CR,
    "node_1A": SOH + b"1A140105" + CR,
    "node_31": addressed(31, b"1401"),
    "fcs_lower_case": SOH + b"011000" + b"0a" + CR,
    "fcs_upper_case": SOH + b"011000" + b"0A" + CR,
    "response_data": b"00" + b"0123456789ABCDEFGHIJ" + CR,
    "response_error": b"72" + CR,
    "no_code": b"A3" + CR,
    "response_model_number": b"00V640-SIM01" + CR,
    "nul_before_cr": b"00AB\x00CD" + CR,
    "no_cr": b"0" * 400,
}

# Each seed is a list of operations, run in order on one frame buffer.
WRITER_SEEDS = {
    "build_by_fields": [init(278), message(b"1401"), op(SET_NODE, 0, u32(1)), op(SEAL)],
    "init_sizes": [init(2, NO_NODE), init(7), init(279), init(279, NO_NODE), init(3, NO_NODE),
                   init(8)],
    "message_lengths": [init(278), message(b"", length=0), message(b"1" * 273),
                        message(b"1" * 272), op(SEAL)],
    "soh_message_makes_addressed": [init(278, NO_NODE), message(SOH + b"011401"), op(SEAL)],
    "node_out_of_range": [init(278, NO_NODE), op(SET_NODE, 0, u32(40)), init(278),
                          op(SET_NODE, 0, u32(40)), op(SET_NODE, 0, u32(31))],
    "fcs_values": [init(278), message(b"1401"), op(SET_FCS, 0, u32(256)), op(SET_FCS, 0, u32(5)),
                   init(278, NO_NODE), message(b"1401"), op(SET_FCS, 0, u32(5))],
    "code_then_parameters": [init(278), op(SET_CODE, 0, u32(0x0100)),
                             parameter(SET_CMD_PARAM, b"0000000"),
                             parameter(SET_CMD_PARAM, b"000000004"),
                             parameter(SET_CMD_PARAM, b"00000004"), op(SEAL)],
    "null_parameter_cuts": [init(278), message(b"10ABCD"),
                            parameter(SET_CMD_PARAM, b"", NULL_ARGUMENT), op(SEAL)],
    "password_lengths": [init(278), op(SET_CODE, 0, u32(0xA2)),
                         parameter(SET_CMD_PARAM, b"P" * 17), parameter(SET_CMD_PARAM, b"P" * 16),
                         init(278), op(SET_CODE, 0, u32(0xA1)), parameter(SET_CMD_PARAM, b"")],
    "no_table_code": [init(278, NO_NODE), message(b"XY"), parameter(SET_CMD_PARAM, b"1234")],
    "room_for_parameters": [init(12), op(SET_CODE, 0, u32(0x10)),
                            parameter(SET_CMD_PARAM, b"ABCDE"), parameter(SET_CMD_PARAM, b"ABCD"),
                            op(SEAL)],
    "response_parameter": [init(278), op(SET_CODE, 0, u32(0x00)),
                           parameter(SET_RESP_PARAM, b"0123456789ABCDEFGHIJ"), op(SEAL),
                           init(278), op(SET_CODE, 0, u32(0x72)),
                           parameter(SET_RESP_PARAM, b"1")],
    "load_then_write": [op(LOAD, 0, u16(10), addressed(1, b"1401")), message(b"16"), op(SEAL)],
    "null_frames": [init(8, NULL_FRAME), op(SET_NODE, NULL_FRAME, u32(40)),
                    message(b"10", NULL_FRAME), op(SET_CODE, NULL_FRAME, u32(0x10000)),
                    op(SET_FCS, NULL_FRAME, u32(7)), parameter(SET_CMD_PARAM, b"", NULL_FRAME)],
    "build_commands": [build(BUILD_CMD, 1, 0x1401), build(BUILD_CMD, 1, 0x10, b"1234"),
                       build(BUILD_CMD, 0, 0x1401), build(BUILD_CMD, 32, 0x1401),
                       build(BUILD_CMD, 1, 0x10000), build(BUILD_CMD, 1, 0x1234),
                       build(BUILD_CMD, 1, 0x10, flags=NULL_ARGUMENT)],
    "build_page_masks": [build(BUILD_CMD, 1, 0x0100, b"0000000"),
                         build(BUILD_CMD, 1, 0x0100, b"00000004"),
                         build(BUILD_CMD, 1, 0x0100, b"000000004")],
    "build_responses": [build(BUILD_RESP, 1, 0x00), build(BUILD_RESP, 1, 0x72, b"1"),
                        build(BUILD_RESP, 1, 0x1401)],
    "build_largest": [build(BUILD_CMD, 1, 0x10, b"T" * 270), build(BUILD_CMD, 1, 0x10, b"T" * 271)],
    "build_cr_in_parameter": [build(BUILD_CMD, 1, 0x10, b"AB\rCD"), build(BUILD_CMD, 0, 0x10, b"\rCD"),
                              build(BUILD_CMD, 1, 0x10, b"\r")],
}

# Command table indices of the report target.
READ, WRITE, TEST, NAK, MODEL, FIRMWARE, MAC, DIP, IP_DIP, MASK_ROM = 0, 1, 4, 5, 7, 8, 9, 10, 11, 14
MEMORY, ANTENNA, LAST_COMMAND, HISTORY, NOISE, SET_IP = 15, 16, 17, 18, 20, 25


def exchange(node, command, text, response):
    return bytes([node, command]) + u16(len(text)) + text + response


REPORT_SEEDS = {
    "read_pages_1_2": exchange(0, READ, b"0000000C", b"000123456789ABCDEFFEDCBA9876543210\r"),
    "read_page_17": exchange(0, READ, b"00040000", b"0000112233AABBCCDD\r"),
    "read_no_tag": exchange(0, READ, b"00000004", b"72\r"),
    "write": exchange(0, WRITE, b"00000004" + b"0011223344556677", b"00\r"),
    "test": exchange(0, TEST, b"HELLO", b"00HELLO\r"),
    "nak": exchange(0, NAK, b"", b"0000HELLO\r"),
    "model_number": exchange(0, MODEL, b"", b"00V640-SIM01\r"),
    "model_number_addressed": exchange(1, MODEL, b"", addressed(1, b"00V640-SIM01")),
    "firmware_version": exchange(0, FIRMWARE, b"", b"000105\r"),
    "mac_address": exchange(0, MAC, b"", b"0000005E005301\r"),
    "dip_switch": exchange(0, DIP, b"", b"0000\r"),
    "ip_address": exchange(0, IP_DIP, b"", b"00192168001200\r"),
    "subnet_mask": exchange(0, MASK_ROM, b"", b"00255255255000\r"),
    "memory_status": exchange(0, MEMORY, b"", b"0001\r"),
    "antenna_status": exchange(0, ANTENNA, b"", b"0001\r"),
    "last_command": exchange(0, LAST_COMMAND, b"", b"001421\r"),
    "history": exchange(0, HISTORY, b"", b"00001200120000\r"),
    "noise": exchange(0, NOISE, b"", b"0003\r"),
    "set_ip_address": exchange(0, SET_IP, b"192168001200", b"00\r"),
    "response_with_line_feed": exchange(0, MODEL, b"", b"00V640\n-SIM01\r"),
    "response_then_line_feed": exchange(0, MODEL, b"", b"00V640-SIM01\r\n"),
    "cr_first": exchange(0, MODEL, b"", b"\r00V640-SIM01\r"),
    "no_cr": exchange(0, TEST, b"", b"A" * 300),
    "unknown_response_code": exchange(0, TEST, b"", b"55\r"),
}


def write(target, seeds):
    directory = CORPUS / target
    directory.mkdir(parents=True, exist_ok=True)
    for name, content in seeds.items():
        (directory / name).write_bytes(content)


write("frame_readers", READER_SEEDS)
write("frame_writers", {name: b"".join(operations) for name, operations in WRITER_SEEDS.items()})
write("response_report", REPORT_SEEDS)
