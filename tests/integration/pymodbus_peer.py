#!/usr/bin/python3
"""A stand-in module for the peer test: a Modbus TCP server from Debian's python3-pymodbus.

Holds registers 1..599 (register N at wire address N - 1); register N starts as 1000 + N, with
an identity block in 25..32. Prints "ready" on stdout once it listens.
"""
import argparse
import asyncio
import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server import StartAsyncTcpServer


def registers():
    # Index i of the block is register i: the slave context adds 1 to every wire address.
    values = [0] + [1000 + n for n in range(1, 600)]
    values[25:33] = [0x0A05, 0xC0A8, 0xCA32, 0x1E61, 0x0004, 0x001B, 0x3C4D, 0x5E6F]
    return values


async def serve(address, port):
    block = ModbusSequentialDataBlock(0, registers())
    slave = ModbusSlaveContext(hr=block, zero_mode=False)
    context = ModbusServerContext(slaves=slave, single=True)
    server = await StartAsyncTcpServer(context=context, address=(address, port), defer_start=True)
    serving = asyncio.ensure_future(server.serve_forever())
    # The server's own future is done once its socket is bound and listening; "ready" is said
    # only then. A failed bind ends serve_forever first and is raised here.
    await asyncio.wait([serving, server.serving], return_when=asyncio.FIRST_COMPLETED)
    if serving.done():
        serving.result()
        raise RuntimeError("the server ended before it listened")
    print("ready", flush=True)
    await serving


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--address", required=True)
    parser.add_argument("--port", type=int, default=502)
    args = parser.parse_args()
    try:
        asyncio.run(serve(args.address, args.port))
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
