// Draws only once its module graph has run: a blank capture means it did not.
import { paint } from './paint.js';
import './style.css';
paint(document.getElementById('app'));
