# Builds the small textured scene of tests/gltf/blender_scene.glb in Blender
# and exports it with Blender's own glTF exporter; with --render PATH it also
# renders the scene with Cycles to PATH, the picture the import is compared
# with by eye. Run headless:
#   blender -b --factory-startup --python tests/gltf/blender_scene.py -- OUT.glb [--render PATH]
# (Debian: apt-get install blender python3-numpy; the exporter needs numpy).
# The files here came from Blender 3.4:
#   ... -- tests/gltf/blender_scene.glb --render tests/gltf/blender_scene_cycles.png
import math
import sys

import bpy

args = sys.argv[sys.argv.index("--") + 1:] if "--" in sys.argv else []
out = args[0] if args else "blender_scene.glb"
render = args[args.index("--render") + 1] if "--render" in args else None

bpy.ops.wm.read_factory_settings(use_empty=True)
scene = bpy.context.scene


def image(name, size, pixel):
    """A packed PNG image whose pixel (x, y) is pixel(x, y) as RGBA, 0..1."""
    img = bpy.data.images.new(name, size, size, alpha=True)
    values = []
    for y in range(size):
        for x in range(size):
            values.extend(pixel(x, y))
    img.pixels = values
    img.file_format = "PNG"
    img.pack()
    return img


def checker(x, y):
    on = (x // 8 + y // 8) % 2 == 0
    return (0.9, 0.75, 0.2, 1) if on else (0.15, 0.35, 0.8, 1)


def bumps(x, y):
    # Ridges across u: the normal tilts along x.
    tilt = 0.6 * math.sin(x / 64 * 2 * math.pi * 4)
    n = (tilt, 0.0, 1.0)
    length = math.sqrt(n[0] ** 2 + n[2] ** 2)
    return (0.5 + 0.5 * n[0] / length, 0.5, 0.5 + 0.5 * n[2] / length, 1)


def stripes(x, y):
    on = (y // 4) % 2 == 0
    return (1, 0.3, 0.1, 1) if on else (0, 0, 0, 1)


def material(name, colour=None, base_image=None, normal_image=None, emissive_image=None,
             emissive_strength=0.0, metallic=0.0, roughness=0.5):
    m = bpy.data.materials.new(name)
    m.use_nodes = True
    nodes, links = m.node_tree.nodes, m.node_tree.links
    bsdf = nodes["Principled BSDF"]
    bsdf.inputs["Metallic"].default_value = metallic
    bsdf.inputs["Roughness"].default_value = roughness
    if colour:
        bsdf.inputs["Base Color"].default_value = colour
    if base_image:
        t = nodes.new("ShaderNodeTexImage")
        t.image = base_image
        links.new(t.outputs["Color"], bsdf.inputs["Base Color"])
    if normal_image:
        t = nodes.new("ShaderNodeTexImage")
        t.image = normal_image
        t.image.colorspace_settings.name = "Non-Color"
        nm = nodes.new("ShaderNodeNormalMap")
        links.new(t.outputs["Color"], nm.inputs["Color"])
        links.new(nm.outputs["Normal"], bsdf.inputs["Normal"])
    if emissive_image:
        t = nodes.new("ShaderNodeTexImage")
        t.image = emissive_image
        links.new(t.outputs["Color"], bsdf.inputs["Emission"])
        bsdf.inputs["Emission Strength"].default_value = emissive_strength
    return m


checker_image = image("checker", 64, checker)
bump_image = image("bumps", 64, bumps)
stripe_image = image("stripes", 32, stripes)

# A textured, normal-mapped sphere, an emissive cube and the ground.
bpy.ops.mesh.primitive_uv_sphere_add(segments=24, ring_count=12, radius=0.8, location=(-0.9, 0, 0.8))
sphere = bpy.context.object
sphere.name = "Ball"
bpy.ops.object.shade_smooth()
sphere.data.materials.append(material("Checker", base_image=checker_image,
                                      normal_image=bump_image, roughness=0.4))

bpy.ops.mesh.primitive_cube_add(size=1.0, location=(0.9, 0.3, 0.5), rotation=(0, 0, math.radians(25)))
cube = bpy.context.object
cube.name = "Lantern"
cube.data.materials.append(material("Glow", colour=(0.05, 0.05, 0.05, 1),
                                    emissive_image=stripe_image, emissive_strength=2.0))

bpy.ops.mesh.primitive_plane_add(size=6, location=(0, 0, 0))
ground = bpy.context.object
ground.name = "Ground"
ground.data.materials.append(material("Ground", colour=(0.5, 0.5, 0.5, 1), roughness=0.8))

bpy.ops.object.camera_add(location=(0, -5.5, 2.6), rotation=(math.radians(70), 0, 0))
camera = bpy.context.object
camera.name = "Camera"
camera.data.sensor_fit = "VERTICAL"
camera.data.angle = 0.75
camera.data.clip_start = 0.1
camera.data.clip_end = 50
scene.camera = camera

bpy.ops.object.light_add(type="SUN", location=(3, -3, 6), rotation=(math.radians(40), math.radians(25), 0))
sun = bpy.context.object
sun.name = "Sun"
sun.data.energy = 3.0

world = bpy.data.worlds.new("World")
world.use_nodes = True
world.node_tree.nodes["Background"].inputs["Color"].default_value = (0.05, 0.05, 0.05, 1)
scene.world = world

scene.render.resolution_x = 256
scene.render.resolution_y = 192
scene.render.resolution_percentage = 100

bpy.ops.export_scene.gltf(filepath=out, export_format="GLB", export_lights=True,
                          export_cameras=True, export_yup=True)

if render:
    scene.render.engine = "CYCLES"
    scene.cycles.samples = 64
    scene.cycles.device = "CPU"
    scene.cycles.use_denoising = False
    scene.view_settings.view_transform = "Standard"
    scene.render.filepath = render
    bpy.ops.render.render(write_still=True)
