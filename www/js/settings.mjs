// What the demo needs to know about its build and configuration. Copy this folder for an app of
// your own and change these with the matching settings.
export const settings = {
  // The sign-in page the popup shows: login.html of this folder, served over http (the popup
  // loads only http and https pages), e.g. `python3 -m http.server --directory www 8000`. It
  // ends at the build's login landing URL (LOGIN_LANDING_URL of penwick_add_app), which the host
  // watches the popup for.
  loginPage: 'http://127.0.0.1:8000/login.html',
  // As config.xml's HideMousePointer (seconds without movement).
  hideMousePointer: 5,
};
