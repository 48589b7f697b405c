#!/usr/bin/env python3
"""Renders the 3D state that `pdpcell --vtk-every N` wrote into RUN/vtk/: one
PNG per chosen write, with the cell's outline, a translucent isosurface of the
ion density, the wall charge coloured on the front and rib walls, a colour bar,
the electrodes S1, S2 and A as labelled frames, a y axis in µm and a triad of
the axes' directions. Uses the VTK library (Debian's python3-vtk9) off-screen; where there is no
display, run it under xvfb-run:

  xvfb-run -a /usr/bin/python3 scripts/render_3d.py RUN [--out DIR] [--steps all|last|N,N,...]

Pictures go to DIR (default RUN/plots) as cell3d_NNNNNNN.png.
"""

import argparse
import sys
import xml.etree.ElementTree as ElementTree
from pathlib import Path

import vtk
from vtk.util.numpy_support import numpy_to_vtk, vtk_to_numpy

# The cell's electrodes, in the coordinates of the 3D files (µm).
from plot_results import (ADDRESS_X_UM, ADDRESS_Z_UM, ELECTRODES_Y_UM, MIRROR_Z_UM, RIB_Z_UM,  # noqa: E402
                          SUSTAIN_X_UM)

ION_LEVEL = 0.3  # isosurface at this fraction of the peak ion density
WALL_ARRAY = "surface charge (C/cm^2)"
WALL_ID = "wall (1 front, 2 rear, 3 rib)"


def collection(folder):
    """[(step, time in ns, fields file, walls file)] in the order written."""
    path = folder / "fields.pvd"
    if not path.is_file():
        raise SystemExit(f"render_3d: no {path}; run pdpcell with --vtk-every N first")
    writes = []
    for entry in ElementTree.parse(path).getroot().iter("DataSet"):
        fields = folder / entry.get("file")
        step = int(fields.stem.split("_")[-1])
        writes.append((step, float(entry.get("timestep")), fields, folder / f"walls_{step:07d}.vtp"))
    return writes


def choose(writes, which):
    if which == "all":
        return writes
    if which == "last":
        return writes[-1:]
    steps = {int(s) for s in which.split(",")}
    chosen = [w for w in writes if w[0] in steps]
    missing = steps - {w[0] for w in chosen}
    if missing:
        raise SystemExit(f"render_3d: no write at step(s) {sorted(missing)}")
    return chosen


def read(path, reader):
    reader.SetFileName(str(path))
    reader.Update()
    if reader.GetErrorCode() != 0:
        raise SystemExit(f"render_3d: cannot read {path}")
    return reader.GetOutput()


def ion_isosurface(fields):
    """Translucent surface where Ne+ plus Xe+ reach ION_LEVEL of their peak."""
    point_data = fields.GetPointData()
    ions = vtk_to_numpy(point_data.GetArray("Ne+ density (cm^-3)")) + \
        vtk_to_numpy(point_data.GetArray("Xe+ density (cm^-3)"))
    peak = float(ions.max())
    if peak <= 0.0:
        return None, 0.0
    image = vtk.vtkImageData()
    image.ShallowCopy(fields)
    total = numpy_to_vtk(ions, deep=True)
    total.SetName("ion density")
    image.GetPointData().SetScalars(total)
    contour = vtk.vtkContourFilter()
    contour.SetInputData(image)
    contour.SetValue(0, ION_LEVEL * peak)
    mapper = vtk.vtkPolyDataMapper()
    mapper.SetInputConnection(contour.GetOutputPort())
    mapper.ScalarVisibilityOff()
    actor = vtk.vtkActor()
    actor.SetMapper(mapper)
    actor.GetProperty().SetColor(1.0, 0.55, 0.1)
    actor.GetProperty().SetOpacity(0.45)
    return actor, peak


def charged_walls(walls):
    """Front and rib wall quads coloured by their charge, and the colour bar."""
    keep = vtk.vtkThreshold()
    keep.SetInputData(walls)
    keep.SetInputArrayToProcess(0, 0, 0, vtk.vtkDataObject.FIELD_ASSOCIATION_CELLS, WALL_ID)
    keep.SetLowerThreshold(2.5)  # the rib ...
    keep.SetUpperThreshold(3.5)
    front = vtk.vtkThreshold()
    front.SetInputData(walls)
    front.SetInputArrayToProcess(0, 0, 0, vtk.vtkDataObject.FIELD_ASSOCIATION_CELLS, WALL_ID)
    front.SetLowerThreshold(0.5)  # ... and the front wall; the rear is left open
    front.SetUpperThreshold(1.5)
    both = vtk.vtkAppendFilter()
    both.AddInputConnection(keep.GetOutputPort())
    both.AddInputConnection(front.GetOutputPort())
    both.Update()
    sigma = vtk_to_numpy(both.GetOutput().GetCellData().GetArray(WALL_ARRAY))
    limit = float(abs(sigma).max()) if len(sigma) else 0.0
    limit = limit if limit > 0.0 else 1e-12
    colours = vtk.vtkColorTransferFunction()
    colours.SetColorSpaceToDiverging()
    colours.AddRGBPoint(-limit, 0.23, 0.30, 0.75)
    colours.AddRGBPoint(0.0, 0.87, 0.87, 0.87)
    colours.AddRGBPoint(limit, 0.71, 0.02, 0.15)
    mapper = vtk.vtkDataSetMapper()
    mapper.SetInputConnection(both.GetOutputPort())
    mapper.SetScalarModeToUseCellFieldData()
    mapper.SelectColorArray(WALL_ARRAY)
    mapper.SetLookupTable(colours)
    mapper.SetScalarRange(-limit, limit)
    actor = vtk.vtkActor()
    actor.SetMapper(mapper)
    actor.GetProperty().SetAmbient(0.6)  # the colours stay readable on walls seen at a slant
    actor.GetProperty().SetDiffuse(0.4)
    bar = vtk.vtkScalarBarActor()
    bar.SetLookupTable(colours)
    bar.SetTitle("wall charge (C/cm^2)")
    bar.SetNumberOfLabels(5)
    bar.SetLabelFormat("%-#9.2e")
    bar.SetPosition(0.87, 0.1)
    bar.SetWidth(0.11)
    bar.SetHeight(0.75)
    bar.SetVerticalTitleSeparation(12)
    for text in (bar.GetTitleTextProperty(), bar.GetLabelTextProperty()):
        text.SetColor(0.1, 0.1, 0.1)
        text.SetFontSize(14)
        text.ItalicOff()
        text.ShadowOff()
    return actor, bar


def outline(fields):
    box = vtk.vtkOutlineFilter()
    box.SetInputData(fields)
    mapper = vtk.vtkPolyDataMapper()
    mapper.SetInputConnection(box.GetOutputPort())
    actor = vtk.vtkActor()
    actor.SetMapper(mapper)
    actor.GetProperty().SetColor(0.1, 0.1, 0.1)
    actor.GetProperty().SetLineWidth(2)
    return actor


def electrodes(bounds):
    """The two sustain electrodes on the front plate and the address electrode
    on the rear, as gold frames (they lie behind the walls, so solid boxes
    would hide them or the charge), each with a label."""
    y_lo, y_hi = bounds[2] + 2.5, bounds[3] - 2.5  # the cell ends half a step inside the outer nodes
    z_lo, z_hi = MIRROR_Z_UM, RIB_Z_UM[1]
    boxes = [(name, (SUSTAIN_X_UM - 1, SUSTAIN_X_UM + 1, lo, hi, z_lo, z_hi))
             for name, (lo, hi) in ELECTRODES_Y_UM.items()]
    boxes.append(("A (address)", (ADDRESS_X_UM - 1, ADDRESS_X_UM + 1, y_lo, y_hi, z_lo, ADDRESS_Z_UM[1])))
    actors = []
    for name, box in boxes:
        cube = vtk.vtkCubeSource()
        cube.SetBounds(*box)
        frame = vtk.vtkOutlineFilter()
        frame.SetInputConnection(cube.GetOutputPort())
        mapper = vtk.vtkPolyDataMapper()
        mapper.SetInputConnection(frame.GetOutputPort())
        actor = vtk.vtkActor()
        actor.SetMapper(mapper)
        actor.GetProperty().SetColor(0.72, 0.53, 0.04)
        actor.GetProperty().SetLineWidth(3)
        actors.append(actor)
        label = vtk.vtkCaptionActor2D()
        label.SetCaption(name)
        label.SetAttachmentPoint((box[0] + box[1]) / 2, (box[2] + box[3]) / 2, box[4])  # the side facing the camera
        label.BorderOff()
        label.LeaderOn()
        label.GetCaptionTextProperty().SetColor(0.45, 0.3, 0.0)
        label.GetCaptionTextProperty().SetFontSize(20)
        label.GetCaptionTextProperty().BoldOn()
        label.GetCaptionTextProperty().ShadowOff()
        label.GetCaptionTextProperty().ItalicOff()
        label.SetPadding(0)
        label.SetWidth(0.08)
        label.SetHeight(0.04)
        label.GetPositionCoordinate().SetValue(-40, 30)
        actors.append(label)
    return actors


def length_axis(bounds, camera):
    """A ticked y axis along the cell's outer edge, in µm."""
    cube = vtk.vtkCubeAxesActor()
    cube.SetBounds(bounds)
    cube.SetCamera(camera)
    cube.SetYTitle("y (um), along the cell")
    cube.XAxisVisibilityOff()  # x and z are short: the triad shows their directions
    cube.ZAxisVisibilityOff()
    cube.SetFlyModeToOuterEdges()
    cube.GetTitleTextProperty(1).SetColor(0.1, 0.1, 0.1)
    cube.GetLabelTextProperty(1).SetColor(0.1, 0.1, 0.1)
    cube.GetYAxesLinesProperty().SetColor(0.1, 0.1, 0.1)
    return cube


def triad(camera):
    """The directions of x, y and z, in a corner, turned as the main view."""
    marker = vtk.vtkRenderer()
    marker.SetViewport(0.0, 0.1, 0.16, 0.45)
    marker.SetLayer(1)
    marker.InteractiveOff()
    arrows = vtk.vtkAxesActor()
    arrows.SetShaftTypeToCylinder()
    arrows.SetCylinderRadius(0.03)
    for label in (arrows.GetXAxisCaptionActor2D(), arrows.GetYAxisCaptionActor2D(),
                  arrows.GetZAxisCaptionActor2D()):
        prop = label.GetCaptionTextProperty()
        prop.SetColor(0.1, 0.1, 0.1)
        prop.ItalicOff()
        prop.ShadowOff()
        label.SetWidth(0.12)  # of the corner viewport
        label.SetHeight(0.12)
    marker.AddActor(arrows)
    view = marker.GetActiveCamera()
    d = camera.GetDirectionOfProjection()
    view.SetFocalPoint(0, 0, 0)
    view.SetPosition(-d[0], -d[1], -d[2])
    view.SetViewUp(camera.GetViewUp())
    marker.ResetCamera()
    return marker


def caption(text):
    actor = vtk.vtkTextActor()
    actor.SetInput(text)
    actor.SetPosition(12, 12)
    actor.GetTextProperty().SetFontSize(18)
    actor.GetTextProperty().SetColor(0.1, 0.1, 0.1)
    return actor


def render(write, out_path, size=(1400, 800)):
    step, time_ns, fields_path, walls_path = write
    fields = read(fields_path, vtk.vtkXMLImageDataReader())
    walls = read(walls_path, vtk.vtkXMLPolyDataReader())
    renderer = vtk.vtkRenderer()
    renderer.SetBackground(1, 1, 1)
    renderer.AddActor(outline(fields))
    wall_actor, bar = charged_walls(walls)
    renderer.AddActor(wall_actor)
    renderer.AddActor2D(bar)
    ions, peak = ion_isosurface(fields)
    if ions is not None:
        renderer.AddActor(ions)
        ion_text = f"orange: ion density {ION_LEVEL * peak:.2e} cm^-3 ({ION_LEVEL:.0%} of peak)"
    else:
        ion_text = "no ions"
    renderer.AddActor2D(caption(f"step {step}, t = {time_ns:.1f} ns   {ion_text}   "
                                "front wall (x = 30 um) and rib (z = 100 um) coloured by charge\n"
                                "x: front to rear plate, y: along the cell, z: from the mirror plane (z = 20 um) "
                                "across to the rib; gold frames: electrodes S1, S2 (front) and A (rear, address)"))
    # Seen from the rear plate's side and below the rib, so that the charged
    # faces of the front wall and the rib look at the camera.
    camera = renderer.GetActiveCamera()
    bounds = fields.GetBounds()
    centre = [(bounds[0] + bounds[1]) / 2, (bounds[2] + bounds[3]) / 2, (bounds[4] + bounds[5]) / 2]
    camera.SetFocalPoint(centre)
    camera.SetPosition(centre[0] + 700, centre[1] - 250, centre[2] - 500)
    camera.SetViewUp(1, 0, 0)
    for actor in electrodes(bounds):
        renderer.AddActor(actor)
    renderer.AddActor(length_axis(bounds, camera))
    renderer.ResetCamera()
    camera.Zoom(1.1)

    window = vtk.vtkRenderWindow()
    window.SetOffScreenRendering(1)
    window.SetSize(*size)
    window.SetNumberOfLayers(2)
    window.AddRenderer(renderer)
    window.AddRenderer(triad(camera))
    window.Render()
    grab = vtk.vtkWindowToImageFilter()
    grab.SetInput(window)
    grab.Update()
    png = vtk.vtkPNGWriter()
    png.SetFileName(str(out_path))
    png.SetInputConnection(grab.GetOutputPort())
    png.Write()
    window.Finalize()


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("run", type=Path, help="the run's working folder (holding vtk/)")
    parser.add_argument("--out", type=Path, help="folder for the pictures (default RUN/plots)")
    parser.add_argument("--steps", default="last", help="all, last (default) or a list of steps: 1,1001")
    args = parser.parse_args(argv)
    out = args.out or args.run / "plots"
    out.mkdir(parents=True, exist_ok=True)
    for write in choose(collection(args.run / "vtk"), args.steps):
        path = out / f"cell3d_{write[0]:07d}.png"
        render(write, path)
        print(path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
