#!/usr/bin/python3
"""Packs a raw capture of the conducting solve's inputs into the compact state
file that bench/conducting_states.hpp reads.

The raw capture (see docs/conducting_solve.md) holds electrode_voltage[0..3],
then eps_face_x, eps_face_y, eps_face_z, charge_source, phi and phi_old on
every node, all doubles, as they stood when the solve was called.

usage: pack_conducting_state.py RAW OUT
"""
import struct
import sys

import numpy as np

NX, NY, NZ = 67, 137, 13
NODES = NX * NY * NZ
# The built-in cell's gas box, 1-based nodes.
ILO, IHI, JLO, JHI, KLO, KHI = 15, 53, 2, 136, 2, 9


def main():
    raw, out = sys.argv[1], sys.argv[2]
    data = np.fromfile(raw, dtype="<f8")
    if data.size != 4 + 6 * NODES:
        sys.exit(f"{raw}: {data.size} values, expected {4 + 6 * NODES}")
    voltages = data[:4]
    arrays = data[4:].reshape(6, NZ, NY, NX)
    faces, source, phi, phi_old = arrays[:3], arrays[3], arrays[4], arrays[5]
    guess = 2.0 * phi - phi_old  # the solve's own extrapolation
    box = faces[:, KLO - 1:KHI, JLO - 1:JHI, ILO - 1:IHI]
    flat_source = source.reshape(-1)
    nonzero = np.flatnonzero(flat_source)
    with open(out, "wb") as f:
        f.write(b"PDPCS01\n")
        f.write(struct.pack("<6i", ILO, IHI, JLO, JHI, KLO, KHI))
        f.write(voltages.astype("<f8").tobytes())
        f.write(box.astype("<f4").tobytes())
        f.write(guess.astype("<f4").tobytes())
        f.write(struct.pack("<I", nonzero.size))
        entries = np.empty(nonzero.size, dtype=[("node", "<u4"), ("value", "<f4")])
        entries["node"] = nonzero
        entries["value"] = flat_source[nonzero]
        f.write(entries.tobytes())


if __name__ == "__main__":
    main()
