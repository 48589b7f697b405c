#!/usr/bin/env python3
"""Checks of a run's pulse report, with figures: the currents integrated
against the electrode charge of the field solves, the energy balance of every
pulse, the collision counts, and the electron density and mean energy of the
3D files (written with --vtk-every) for comparison with measurements.

usage: pulse_report_checks.py RUN_FOLDER OUT_FOLDER
"""
import csv
import glob
import os
import re
import sys

import numpy as np
import matplotlib
matplotlib.use('Agg')
import matplotlib.pyplot as plt


def read_vti(path):
    """Point arrays of one of the program's .vti files (raw appended, UInt64 headers)."""
    raw = open(path, 'rb').read()
    start = raw.index(b'<AppendedData encoding="raw">')
    base = raw.index(b'_', start) + 1
    head = raw[:start].decode()
    out = {}
    for m in re.finditer(r'<DataArray type="(\w+)" Name="([^"]+)" NumberOfComponents="(\d)" '
                         r'format="appended" offset="(\d+)"', head):
        typ, name, nc, off = m.group(1), m.group(2), int(m.group(3)), int(m.group(4))
        n = int(np.frombuffer(raw, np.uint64, 1, base + off)[0])
        dt = np.float64 if typ == 'Float64' else np.uint8
        a = np.frombuffer(raw, dt, n // np.dtype(dt).itemsize, base + off + 8)
        out[name] = a.reshape(13, 137, 67, nc) if nc > 1 else a.reshape(13, 137, 67)
    return out


if len(sys.argv) != 3:
    sys.exit(__doc__)
run, out = sys.argv[1], sys.argv[2]
os.makedirs(out, exist_ok=True)
def table(name):
    rows = [l for l in open(os.path.join(run, name)) if not l.startswith('#')]
    r = list(csv.DictReader(rows))
    return r
cur = table('currents.csv'); chg = table('electrode_charge.csv'); pul = table('pulses.csv')
f = lambda rows, k: np.array([float(r[k]) if r[k] != '' else np.nan for r in rows])
t = f(cur, 't_us'); step = f(cur, 'step')
tc = f(chg, 't_us'); sc = f(chg, 'step')

# 1. charge check: integral of the currents against the solve's charge change, from the first solve
fig, ax = plt.subplots(2, 1, figsize=(8, 7), sharex=True)
for e, col in zip(['S1', 'S2', 'A'], ['C0', 'C1', 'C2']):
    I = f(cur, 'I_%s_uA' % e) * 1e-3  # pC per 1 ns row
    integ = np.cumsum(I)
    # value of the integral at each charge row (rows aligned at multiples of 10 steps)
    idx = np.searchsorted(step, sc)
    ok = (idx < len(step)) & (step[np.minimum(idx, len(step)-1)] == sc)
    q0 = f(chg, 'Q_solve_%s_pC' % e)[0]
    integ_at = integ[idx[ok]] - (integ[idx[0]] if ok[0] else 0)
    dq = f(chg, 'Q_solve_%s_pC' % e)[ok] - q0
    ax[0].plot(tc[ok], dq, '-', color=col, label='%s: change of charge from the field solves' % e)
    ax[0].plot(tc[ok], integ_at, '--', color=col, label='%s: integral of the current' % e)
    moved = np.cumsum(np.abs(I))[idx[ok]] - np.cumsum(np.abs(I))[idx[0]]
    ax[1].plot(tc[ok], (integ_at - dq) / np.maximum(moved[-1], 1e-30) * 100, color=col, label=e)
    print('charge check %s: final dQ_solve %.4f pC, integral %.4f pC, diff %.2e pC = %.3f %% of the charge moved (%.3f pC); max |diff| %.3f %%'
          % (e, dq[-1], integ_at[-1], integ_at[-1]-dq[-1], 100*(integ_at[-1]-dq[-1])/moved[-1], moved[-1], 100*np.max(np.abs(integ_at-dq))/moved[-1]))
ax[0].set_ylabel('charge since the first solve (pC)'); ax[0].legend(fontsize=7)
ax[1].set_ylabel('integral - solve (% of charge moved)'); ax[1].set_xlabel('t (us)'); ax[1].legend()
ax[0].set_title('Electrode charge: Ramo-Shockley currents integrated vs. field solves')
fig.tight_layout(); fig.savefig(os.path.join(out, 'charge_check.png'), dpi=110)

# 2. currents and real numbers
fig, ax = plt.subplots(3, 1, figsize=(8, 8), sharex=True)
for e in ['S1', 'S2', 'A']:
    ax[0].plot(t, f(cur, 'V_%s_V' % e), label='V_' + e)
    ax[1].plot(t, f(cur, 'I_%s_uA' % e) / 1e3, label='I_' + e)
ax[0].set_ylabel('V'); ax[0].legend(); ax[1].set_ylabel('current (mA)'); ax[1].legend()
ax[2].semilogy(t, f(cur, 'ions_real'), label='ions'); ax[2].semilogy(t, np.maximum(f(cur, 'electrons_real'), 0.5), label='electrons')
ax[2].set_ylabel('real number'); ax[2].set_xlabel('t (us)'); ax[2].legend()
fig.tight_layout(); fig.savefig(os.path.join(out, 'currents.png'), dpi=110)

# 3. energy balance per pulse
if pul:
    names = ['E_drive_nJ', 'dE_field_nJ', 'E_electrons_nJ', 'E_ions_nJ']
    for r in pul:
        d = {k: float(r[k]) for k in names}
        used = d['dE_field_nJ'] + d['E_electrons_nJ'] + d['E_ions_nJ']
        work = d['E_electrons_nJ'] + d['E_ions_nJ']
        print('pulse %s: drive %.4g nJ, dfield %.4g, electrons %.4g, ions %.4g, sum %.4g; drive-sum = %.3g nJ = %.2f %% of drive, %.2f %% of particle work; collisions %.4g, e-walls %.4g, i-walls %.4g, i-gas %.4g'
              % (r['pulse'], d['E_drive_nJ'], d['dE_field_nJ'], d['E_electrons_nJ'], d['E_ions_nJ'], used,
                 d['E_drive_nJ']-used, 100*(d['E_drive_nJ']-used)/abs(d['E_drive_nJ']), 100*(d['E_drive_nJ']-used)/work,
                 float(r['E_collisions_nJ']), float(r['E_electron_walls_nJ']), float(r['E_ion_walls_nJ']), float(r['E_ion_gas_nJ'])))
        print('   V_applied %s Vwall %s -> %s, fired %s delay %s ns, Ipeak %s uA at %s us, Q %s %s %s pC, Qwall %s %s, VUV %s'
              % (r['V_applied_V'], r['Vwall_start_V'], r['Vwall_end_V'], r['fired'], r['delay_ns'], r['I_peak_uA'], r['t_peak_us'],
                 r['Q_S1_pC'], r['Q_S2_pC'], r['Q_A_pC'], r['Qwall_S1_pC'], r['Qwall_S2_pC'], r['VUV_efficiency']))
    fig, ax = plt.subplots(figsize=(8, 4))
    x = np.arange(len(pul)); w = 0.2
    for i, k in enumerate(names):
        ax.bar(x + (i - 1.5) * w, [float(r[k]) for r in pul], w, label=k)
    ax.set_xticks(x, ['pulse ' + r['pulse'] for r in pul]); ax.set_ylabel('nJ'); ax.legend(); ax.axhline(0, color='k', lw=0.5)
    ax.set_title('Energy per pulse: drive = field energy change + work on electrons + work on ions')
    fig.tight_layout(); fig.savefig(os.path.join(out, 'energy.png'), dpi=110)
    procs = ['n_elastic_Xe','n_elastic_Ne','n_exc_Xe1','n_exc_Xe2','n_exc_Xe3','n_exc_Xe4','n_exc_Xe5','n_exc_Xe6','n_ion_Xe','n_exc_Ne1','n_exc_Ne2','n_exc_Ne3','n_exc_Ne4','n_exc_Ne5','n_exc_Ne6','n_ion_Ne']
    fig, ax = plt.subplots(figsize=(9, 4))
    for i, r in enumerate(pul):
        ax.bar(np.arange(16) + i * 0.8 / len(pul), [max(float(r[p]), 0.1) for p in procs], 0.8 / len(pul), label='pulse ' + r['pulse'])
    ax.set_yscale('log'); ax.set_xticks(np.arange(16), [p[2:] for p in procs], rotation=60); ax.set_ylabel('real electrons'); ax.legend()
    ax.set_title('Collisions per process and pulse')
    fig.tight_layout(); fig.savefig(os.path.join(out, 'tallies.png'), dpi=110)

# 4. density and mean energy at the discharge peak
vt = sorted(glob.glob(os.path.join(run, 'vtk', 'fields_*.vti')))
if vt:
    best = None
    stats = []
    for p in vt:
        d = read_vti(p)
        ne = d['electron density (cm^-3)']; te = d['electron mean energy (eV)']
        if ne.max() <= 0: continue
        m = ne > 0.1 * ne.max()
        s = int(p[-11:-4])
        stats.append((s, ne.max(), (te[m] * ne[m]).sum() / ne[m].sum()))
    for s in stats: print('vtk step %d: peak n_e %.3g cm^-3, mean energy (n_e > 10%% of peak) %.2f eV' % s)
