"""A short run of the real program with --vtk-every, its 3D files read back by
the VTK library's own Python bindings (Debian's python3-vtk9) and compared
with the slice files of the same run and with the program's own relations.

  vtk_files_check.py PDPCELL_BINARY SOURCE_DIR
"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree
from pathlib import Path

import numpy as np
import vtk
from vtk.util.numpy_support import vtk_to_numpy

BINARY = SOURCE = None
STEPS, EVERY = 1001, 250
WRITTEN = [1, 251, 501, 751, 1001]
DX, DY, DZ = 0.0002, 0.0005, 0.001   # cm
INV_CELL_VOLUME = 9999999999.999998  # 1/cm^3
NX, NY, NZ = 67, 137, 13


def read(path):
    reader = vtk.vtkXMLImageDataReader() if str(path).endswith(".vti") else vtk.vtkXMLPolyDataReader()
    reader.SetFileName(str(path))
    reader.Update()
    assert reader.GetErrorCode() == 0, path
    return reader.GetOutput()


def arrays(attributes):
    return {attributes.GetArrayName(a): vtk_to_numpy(attributes.GetArray(a))
            for a in range(attributes.GetNumberOfArrays())}


def on_mesh(values):
    """Point array as [k, j, i] with 0-based indices (node number - 1)."""
    return values.reshape((NZ, NY, NX) + values.shape[1:])


class ShortRun(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls._folder = tempfile.TemporaryDirectory()
        cls.folder = Path(cls._folder.name)
        for name in ("input_file.txt", "Vdata.txt"):
            shutil.copy(Path(SOURCE) / "examples" / "sustain" / name, cls.folder)
        subprocess.run([BINARY, "--max-steps", str(STEPS), "--vtk-every", str(EVERY), "--quiet"],
                       cwd=cls.folder, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, check=True)
        sys.path.insert(0, str(Path(SOURCE) / "scripts"))
        import plot_results
        cls.slices = {q: plot_results.read_slice_file(cls.folder / f"OUT_{q}.2Ddata")
                      for q in ("Ion_Density", "Electron_Density", "Potential")}
        cls.fields = {step: read(cls.folder / "vtk" / f"fields_{step:07d}.vti") for step in WRITTEN}

    @classmethod
    def tearDownClass(cls):
        cls._folder.cleanup()

    def test_collections_list_every_write_by_time(self):
        for kind, extension in (("fields", "vti"), ("walls", "vtp"), ("particles", "vtp")):
            root = ElementTree.parse(self.folder / "vtk" / f"{kind}.pvd").getroot()
            self.assertEqual(root.get("type"), "Collection")
            entries = root.find("Collection").findall("DataSet")
            self.assertEqual([e.get("file") for e in entries],
                             [f"{kind}_{step:07d}.{extension}" for step in WRITTEN])
            # 0.1 ns per step, from the step's start
            np.testing.assert_allclose([float(e.get("timestep")) for e in entries],
                                       [(step - 1) * 0.1 for step in WRITTEN], rtol=1e-9)
            for e in entries:
                self.assertTrue((self.folder / "vtk" / e.get("file")).is_file())
        self.assertEqual(list((self.folder / "vtk").glob("*.tmp")), [])

    def test_mesh_placement_and_array_names(self):
        data = self.fields[501]
        self.assertEqual(data.GetDimensions(), (NX, NY, NZ))
        self.assertEqual(data.GetSpacing(), (2.0, 5.0, 10.0))  # um
        self.assertEqual(data.GetOrigin(), (1.0, 2.5, 5.0))
        self.assertEqual(sorted(arrays(data.GetPointData())),
                         sorted(["Ne+ density (cm^-3)", "Xe+ density (cm^-3)", "electron density (cm^-3)",
                                 "electron mean energy (eV)", "potential (V)", "E (V/cm)", "gas",
                                 "relative permittivity"]))
        time = vtk_to_numpy(data.GetFieldData().GetArray("TimeValue"))[0]
        self.assertAlmostEqual(time, 50.0, places=9)  # ns

    def test_gas_mask_and_permittivity_follow_the_cell(self):
        a = arrays(self.fields[1].GetPointData())
        gas = on_mesh(a["gas"])
        eps = on_mesh(a["relative permittivity"])
        expected = np.zeros((NZ, NY, NX), dtype=np.uint8)
        expected[1:9, 1:136, 14:53] = 1  # nodes i 15..53, j 2..136, k 2..9
        np.testing.assert_array_equal(gas, expected)
        self.assertEqual(eps[4, 50, 10], 11.0)  # front dielectric
        self.assertEqual(eps[4, 50, 60], 8.0)   # rear dielectric
        self.assertEqual(eps[11, 50, 30], 11.0)  # rib
        self.assertTrue(np.all(eps[gas == 1] == 1.0))

    def test_low_z_plane_equals_the_slice_files_of_the_same_step(self):
        for block, step in ((0, 1), (1, 1001)):
            a = arrays(self.fields[step].GetPointData())
            k0 = 1  # node 2, the slices' plane
            ions = on_mesh(a["Ne+ density (cm^-3)"] + a["Xe+ density (cm^-3)"])[k0, 1:136, 1:66].T
            electrons = on_mesh(a["electron density (cm^-3)"])[k0, 1:136, 1:66].T
            phi = on_mesh(a["potential (V)"])[k0, 1:136, :].T
            self.assertGreater(ions.max(), 0.0)
            self.assertGreater(np.abs(phi).max(), 100.0)
            # The slices print five significant digits.
            np.testing.assert_allclose(ions, self.slices["Ion_Density"].blocks[block], rtol=6e-5, atol=1e-300)
            np.testing.assert_allclose(electrons, self.slices["Electron_Density"].blocks[block], rtol=6e-5,
                                       atol=1e-300)
            np.testing.assert_allclose(phi, self.slices["Potential"].blocks[block], rtol=6e-5, atol=1e-6)
        self.assertGreater(arrays(self.fields[1].GetPointData())["electron density (cm^-3)"].max(), 0.0)

    def test_node_field_is_the_mean_of_the_potential_differences_around_the_node(self):
        # Away from the walls the faces around a node carry plain differences
        # of the potential, and a particle on the node sits midway between them.
        for step in (501, 1001):
            a = arrays(self.fields[step].GetPointData())
            phi = on_mesh(a["potential (V)"])
            E = on_mesh(a["E (V/cm)"])
            inner = np.s_[2:8, 2:135, 15:52]  # nodes k 3..8, j 3..135, i 16..52
            ex = -(np.roll(phi, -1, axis=2) - np.roll(phi, 1, axis=2)) / (2 * DX)
            ey = -(np.roll(phi, -1, axis=1) - np.roll(phi, 1, axis=1)) / (2 * DY)
            ez = -(np.roll(phi, -1, axis=0) - np.roll(phi, 1, axis=0)) / (2 * DZ)
            scale = np.abs(E[inner]).max()
            self.assertGreater(scale, 1000.0)
            for c, expected in enumerate((ex, ey, ez)):
                np.testing.assert_allclose(E[inner][..., c], expected[inner], rtol=0, atol=1e-9 * scale)
            gas = on_mesh(a["gas"])
            self.assertTrue(np.all(E[gas == 0] == 0.0))

    def test_particles_are_the_densities_deposited_at_the_write(self):
        # Steps 251 and 751 accumulate no densities of their own: the file's
        # densities come from the particles written beside them, and cloud-in-cell
        # weighting keeps every particle's whole weight on the mesh.
        for step in (251, 751):
            points = read(self.folder / "vtk" / f"particles_{step:07d}.vtp")
            p = arrays(points.GetPointData())
            kind = p["kind (0 e, 1 Ne+, 2 Xe+)"]
            weight = p["weight (particles per record)"]
            self.assertEqual(points.GetNumberOfPoints(), len(kind))
            self.assertGreater(len(kind), 0)
            a = arrays(self.fields[step].GetPointData())
            for k, name in ((1, "Ne+ density (cm^-3)"), (2, "Xe+ density (cm^-3)"), (0, "electron density (cm^-3)")):
                self.assertAlmostEqual(a[name].sum() / INV_CELL_VOLUME, weight[kind == k].sum(), places=6)
            position = vtk_to_numpy(points.GetPoints().GetData())
            self.assertTrue(np.all((position[:, 0] > 30) & (position[:, 0] < 108)))  # um, between the plates
            self.assertTrue(np.all((position[:, 1] >= 10) & (position[:, 1] <= 685)))
            self.assertTrue(np.all((position[:, 2] > 20) & (position[:, 2] < 100)))
            origin = p["electron origin (0 seed or wall, 1 Ne, 2 Xe; -1 ion)"]
            np.testing.assert_array_equal(origin[kind > 0], -1)
            self.assertTrue(np.all(p["energy (eV)"] >= 0))

    def test_wall_charge_lies_on_the_three_walls(self):
        walls = read(self.folder / "vtk" / "walls_0000001.vtp")
        c = arrays(walls.GetCellData())
        wall = c["wall (1 front, 2 rear, 3 rib)"]
        self.assertEqual([int((wall == w).sum()) for w in (1, 2, 3)], [135 * 8, 135 * 8, 39 * 135])
        centres = vtk.vtkCellCenters()
        centres.SetInputData(walls)
        centres.Update()
        xyz = vtk_to_numpy(centres.GetOutput().GetPoints().GetData())
        np.testing.assert_allclose(xyz[wall == 1, 0], 30.0)
        np.testing.assert_allclose(xyz[wall == 2, 0], 108.0)
        np.testing.assert_allclose(xyz[wall == 3, 2], 100.0)
        # The sustain state charges the front wall over the two electrodes
        # with opposite signs.
        sigma = c["surface charge (C/cm^2)"]
        front = sigma[wall == 1]
        self.assertLess(front.min(), 0.0)
        self.assertGreater(front.max(), 0.0)

    def test_render_script_draws_a_picture_of_the_last_write(self):
        command = ["/usr/bin/python3", str(Path(SOURCE) / "scripts" / "render_3d.py"), str(self.folder),
                   "--out", str(self.folder / "plots")]
        if not os.environ.get("DISPLAY"):
            command = ["xvfb-run", "-a"] + command
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL, timeout=300)
        png = vtk.vtkPNGReader()
        png.SetFileName(str(self.folder / "plots" / "cell3d_0001001.png"))
        png.Update()
        image = png.GetOutput()
        self.assertEqual(image.GetDimensions()[:2], (1400, 800))
        rgb = vtk_to_numpy(image.GetPointData().GetScalars())[:, :3].astype(int)
        # Drawn, not blank: the ion cloud in orange and charge of both signs.
        orange = (rgb[:, 0] > 200) & (rgb[:, 1] > 90) & (rgb[:, 1] < 170) & (rgb[:, 2] < 90)
        red = (rgb[:, 0] > 150) & (rgb[:, 2] < 120) & ~orange
        blue = (rgb[:, 2] > 150) & (rgb[:, 0] < 120)
        self.assertGreater(int(orange.sum()), 20)
        self.assertGreater(int(red.sum()), 1000)
        self.assertGreater(int(blue.sum()), 1000)
        # The electrodes' gold frames.
        gold = (abs(rgb - (184, 135, 10)) < 25).all(axis=1)
        self.assertGreater(int(gold.sum()), 1000)
        self.assertEqual(list((self.folder / "plots").glob("*.png")), [self.folder / "plots" / "cell3d_0001001.png"])


if __name__ == "__main__":
    BINARY, SOURCE = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1])
