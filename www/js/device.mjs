// This machine: what the device plugin says about it.
import { device, nativeReady } from '/_webhost/webhost.mjs';
import { $, describe } from './view.mjs';

const LABELS = [['platform', 'System'], ['version', 'Version'], ['model', 'Model'], ['manufacturer', 'Maker'],
  ['serial', 'Serial'], ['isVirtual', 'Virtual'], ['uuid', 'App id here'], ['webhost', 'Library']];

function showFacts(info) {
  const list = $('device-facts');
  list.textContent = '';
  for (const [key, label] of LABELS) {
    if (info[key] === undefined || info[key] === '') continue;
    const term = document.createElement('dt'), value = document.createElement('dd');
    term.textContent = label;
    value.textContent = typeof info[key] === 'boolean' ? (info[key] ? 'yes' : 'no') : String(info[key]);
    list.append(term, value);
  }
}

export const deviceReady = nativeReady.then(() => device.getDeviceInfo()).then(showFacts,
  (error) => { $('device-facts').textContent = 'Not available: ' + describe(error); });
