"""Reads one VTK XML file with the VTK library's own reader and prints what the
C++ tests ask for, one tab-separated line per item, doubles in repr (exact):

  vtk_probe.py FILE [QUERY...]
    node:I,J,K     every point array at the ImageData point of that extent index
    near:X,Y,Z     every cell array of the cell whose centre is nearest (um),
                   and that cell's bounds
    points         every point array and the coordinates of every point

Always printed: the reader's error code, the point and cell counts, the
names of the arrays, the dimensions, origin and spacing of ImageData.
"""

import sys

import vtk
from vtk.util.numpy_support import vtk_to_numpy


def values(array, index):
    tuple_ = array.GetTuple(index)
    return "\t".join(repr(float(v)) for v in tuple_)


def main(path, queries):
    reader = vtk.vtkXMLImageDataReader() if path.endswith(".vti") else vtk.vtkXMLPolyDataReader()
    reader.SetFileName(path)
    reader.Update()
    data = reader.GetOutput()
    print(f"error\t{reader.GetErrorCode()}")
    print(f"points\t{data.GetNumberOfPoints()}")
    print(f"cells\t{data.GetNumberOfCells()}")
    for kind, arrays in (("pointarray", data.GetPointData()), ("cellarray", data.GetCellData()),
                         ("fieldarray", data.GetFieldData())):
        for a in range(arrays.GetNumberOfArrays()):
            array = arrays.GetAbstractArray(a)
            line = f"{kind}\t{array.GetName()}\t{array.GetNumberOfComponents()}"
            if kind == "fieldarray":
                line += "\t" + values(array, 0)
            print(line)
    if isinstance(data, vtk.vtkImageData):
        print("dims\t" + "\t".join(str(v) for v in data.GetDimensions()))
        print("origin\t" + "\t".join(repr(v) for v in data.GetOrigin()))
        print("spacing\t" + "\t".join(repr(v) for v in data.GetSpacing()))
        print("extent\t" + "\t".join(str(v) for v in data.GetExtent()))
    centres = None
    for query in queries:
        if query.startswith("node:"):
            ijk = [int(v) for v in query[5:].split(",")]
            point = data.ComputePointId(ijk)
            print(f"{query}\tposition\t" + "\t".join(repr(v) for v in data.GetPoint(point)))
            arrays = data.GetPointData()
            for a in range(arrays.GetNumberOfArrays()):
                print(f"{query}\t{arrays.GetArrayName(a)}\t{values(arrays.GetArray(a), point)}")
        elif query.startswith("near:"):
            if centres is None:
                filt = vtk.vtkCellCenters()
                filt.SetInputData(data)
                filt.Update()
                centres = vtk_to_numpy(filt.GetOutput().GetPoints().GetData())
            target = [float(v) for v in query[5:].split(",")]
            cell = int(((centres - target) ** 2).sum(axis=1).argmin())
            print(f"{query}\tbounds\t" + "\t".join(repr(v) for v in data.GetCell(cell).GetBounds()))
            arrays = data.GetCellData()
            for a in range(arrays.GetNumberOfArrays()):
                print(f"{query}\t{arrays.GetArrayName(a)}\t{values(arrays.GetArray(a), cell)}")
        elif query == "points":
            arrays = data.GetPointData()
            for p in range(data.GetNumberOfPoints()):
                print(f"point{p}\tposition\t" + "\t".join(repr(v) for v in data.GetPoint(p)))
                for a in range(arrays.GetNumberOfArrays()):
                    print(f"point{p}\t{arrays.GetArrayName(a)}\t{values(arrays.GetArray(a), p)}")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2:])
