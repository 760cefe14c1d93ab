// Sign in: the sign-in page opens in the host's popup window (no bridge there); when the popup
// reaches the login landing address, the host calls window.app.snsLogin with that address, query
// included, and closes the popup.
import { app } from '/_webhost/webhost.mjs';
import { $, show, describe } from './view.mjs';
import { settings } from './settings.mjs';

window.app = Object.assign(window.app || {}, {
  snsLogin(url) {
    const answer = new URL(url);
    const user = answer.searchParams.get('user');
    if (!user) {
      show('login-status', 'The sign-in ended without a user.');
      return;
    }
    // A real app hands the code to its server; the demo only shows that it arrived.
    const code = answer.searchParams.get('code') || '';
    show('login-status', `Signed in as ${user} (code ${code.slice(0, 6)}…).`);
    console.log(`demo: signed in as ${user}`);
  },
});

show('login-page', settings.loginPage);
$('login-open').addEventListener('click', async () => {
  const page = new URL(settings.loginPage);
  try {
    await app.openUrl(page.href, '_blank');
    show('login-status', `Signing in at ${page.origin}…`);
  } catch (error) {
    show('login-status', 'The popup did not open: ' + describe(error));
  }
});
