// The 3-D scene: a lit torus turning in plain WebGL (no library), redrawn every frame and sized to
// its card. The drawing buffer is kept so the export can save the picture that is on screen.
import { $, show } from './view.mjs';

const VERTEX = `
attribute vec3 position;
attribute vec3 normal;
uniform mat4 projection, modelView;
varying vec3 vNormal, vPosition;
varying float vAngle;
void main() {
  vAngle = atan(position.y, position.x);
  vec4 p = modelView * vec4(position, 1.0);
  vPosition = p.xyz;
  vNormal = (modelView * vec4(normal, 0.0)).xyz;
  gl_Position = projection * p;
}`;

const FRAGMENT = `
precision mediump float;
varying vec3 vNormal, vPosition;
varying float vAngle;
void main() {
  vec3 n = normalize(vNormal);
  vec3 light = normalize(vec3(0.6, 0.8, 0.9));
  vec3 view = normalize(-vPosition);
  float diffuse = max(dot(n, light), 0.0);
  float specular = pow(clamp(dot(n, normalize(light + view)), 0.0, 1.0), 48.0);
  float rim = pow(1.0 - clamp(dot(n, view), 0.0, 1.0), 3.0);
  // Bands around the ring make its turning visible.
  vec3 base = mix(vec3(0.98, 0.72, 0.25), vec3(0.30, 0.84, 0.95), smoothstep(-0.3, 0.3, sin(4.0 * vAngle)));
  gl_FragColor = vec4(base * (0.18 + 0.82 * diffuse) + vec3(0.9) * specular + vec3(0.2, 0.35, 0.6) * rim, 1.0);
}`;

// Positions, normals and triangle indices of a torus around the z axis.
function torus(major, minor, rings, sides) {
  const positions = [], normals = [], indices = [];
  for (let i = 0; i <= rings; ++i) {
    const u = (i / rings) * 2 * Math.PI;
    for (let j = 0; j <= sides; ++j) {
      const v = (j / sides) * 2 * Math.PI;
      const nx = Math.cos(v) * Math.cos(u), ny = Math.cos(v) * Math.sin(u), nz = Math.sin(v);
      normals.push(nx, ny, nz);
      positions.push(major * Math.cos(u) + minor * nx, major * Math.sin(u) + minor * ny, minor * nz);
    }
  }
  for (let i = 0; i < rings; ++i) {
    for (let j = 0; j < sides; ++j) {
      const a = i * (sides + 1) + j, b = a + sides + 1;
      indices.push(a, b, a + 1, b, b + 1, a + 1);
    }
  }
  return { positions: new Float32Array(positions), normals: new Float32Array(normals), indices: new Uint16Array(indices) };
}

// Column-major 4x4 matrices.
function perspective(fovy, aspect, near, far) {
  const f = 1 / Math.tan(fovy / 2), d = near - far;
  return [f / aspect, 0, 0, 0, 0, f, 0, 0, 0, 0, (far + near) / d, -1, 0, 0, (2 * far * near) / d, 0];
}

function multiply(a, b) {
  const out = new Array(16).fill(0);
  for (let c = 0; c < 4; ++c)
    for (let r = 0; r < 4; ++r)
      for (let k = 0; k < 4; ++k)
        out[c * 4 + r] += a[k * 4 + r] * b[c * 4 + k];
  return out;
}

// Turns by y, then x, then z radians about those axes (z first when applied to a point).
function rotation(x, y, z) {
  const cx = Math.cos(x), sx = Math.sin(x), cy = Math.cos(y), sy = Math.sin(y), cz = Math.cos(z), sz = Math.sin(z);
  const rx = [1, 0, 0, 0, 0, cx, sx, 0, 0, -sx, cx, 0, 0, 0, 0, 1];
  const ry = [cy, 0, -sy, 0, 0, 1, 0, 0, sy, 0, cy, 0, 0, 0, 0, 1];
  const rz = [cz, sz, 0, 0, -sz, cz, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1];
  return multiply(ry, multiply(rx, rz));
}

function compile(gl, type, source) {
  const shader = gl.createShader(type);
  gl.shaderSource(shader, source);
  gl.compileShader(shader);
  if (!gl.getShaderParameter(shader, gl.COMPILE_STATUS)) throw new Error(gl.getShaderInfoLog(shader));
  return shader;
}

function start(canvas) {
  const gl = canvas.getContext('webgl', { antialias: true, preserveDrawingBuffer: true });
  if (!gl) return false;
  const program = gl.createProgram();
  gl.attachShader(program, compile(gl, gl.VERTEX_SHADER, VERTEX));
  gl.attachShader(program, compile(gl, gl.FRAGMENT_SHADER, FRAGMENT));
  gl.linkProgram(program);
  if (!gl.getProgramParameter(program, gl.LINK_STATUS)) throw new Error(gl.getProgramInfoLog(program));
  gl.useProgram(program);

  const shape = torus(1, 0.42, 64, 32);
  for (const [name, data] of [['position', shape.positions], ['normal', shape.normals]]) {
    gl.bindBuffer(gl.ARRAY_BUFFER, gl.createBuffer());
    gl.bufferData(gl.ARRAY_BUFFER, data, gl.STATIC_DRAW);
    const location = gl.getAttribLocation(program, name);
    gl.enableVertexAttribArray(location);
    gl.vertexAttribPointer(location, 3, gl.FLOAT, false, 0, 0);
  }
  gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, gl.createBuffer());
  gl.bufferData(gl.ELEMENT_ARRAY_BUFFER, shape.indices, gl.STATIC_DRAW);
  const projection = gl.getUniformLocation(program, 'projection'), modelView = gl.getUniformLocation(program, 'modelView');
  gl.enable(gl.DEPTH_TEST);
  gl.clearColor(0, 0, 0, 0);

  const frame = (time) => {
    const scale = window.devicePixelRatio || 1;
    const width = Math.max(1, Math.round(canvas.clientWidth * scale)), height = Math.max(1, Math.round(canvas.clientHeight * scale));
    if (canvas.width !== width || canvas.height !== height) {
      canvas.width = width;
      canvas.height = height;
    }
    gl.viewport(0, 0, width, height);
    gl.clear(gl.COLOR_BUFFER_BIT | gl.DEPTH_BUFFER_BIT);
    gl.uniformMatrix4fv(projection, false, perspective(Math.PI / 4, width / height, 0.1, 20));
    // The ring spins about its axis and rocks, never edge-on to the viewer.
    const turn = rotation(-0.85 + 0.25 * Math.sin(time * 0.0007), 0.4 * Math.sin(time * 0.0005), time * 0.0009);
    turn[14] = -3.6;
    gl.uniformMatrix4fv(modelView, false, turn);
    gl.drawElements(gl.TRIANGLES, shape.indices.length, gl.UNSIGNED_SHORT, 0);
    drawn();
    requestAnimationFrame(frame);
  };
  requestAnimationFrame(frame);
  show('scene-status', `A torus of ${shape.indices.length / 3} triangles, lit per pixel: ${gl.getParameter(gl.VERSION)}`);
  return true;
}

export const sceneCanvas = $('scene-canvas');
let drawn;
// Resolves once the first frame is drawn (or there is none to draw).
export const sceneReady = new Promise((resolve) => { drawn = resolve; });
try {
  if (!start(sceneCanvas)) {
    show('scene-status', 'WebGL is not available (EnableWebGL in config.xml).');
    drawn();
  }
} catch (error) {
  show('scene-status', 'WebGL failed: ' + error.message);
  drawn();
}
